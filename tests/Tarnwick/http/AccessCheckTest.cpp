#include "http/AccessCheck.h"

#include "Base64Encoding.h"
#include "CoreFixture.h"
#include "core/BandWidth.h"
#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "http/SystemResponse.h"

#include "ByteBuffer.h"
#include "IPv4Address.h"
#include "SettingsSchema.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::Base64Encode;

const char kEntry[] = "Setting::Path::Main::";
const char kNoDetail[] = "詳細情報はありません。";
const char kHttpsRefused[] = "HTTPS からのアクセスは、許可されていません";
const char kHttpRefused[] = "HTTP からのアクセスは、許可されていません";
const char kHostOverLimit[] = "１ホストの最大接続数を超えました";
const char kHiddenRefused[] = "このファイル・ディレクトリへのアクセスは、許可されていません";
const char kAuthRequired[] = "認証が必要です";

std::string HostRefused(const std::string& address)
{
    return "ホスト " + address + " からのアクセスは、許可されていません";
}

// How a check ended: passed, or the refusal's status, Info, Detail and challenge.
struct Outcome {
    bool refused = false;
    int code = 0;
    std::string info;
    std::string page;
    std::string challenge;  // WWW-Authenticate, "" when not set
};

struct Credentials {
    std::string user;
    std::string password;
};

// A refusal with this status and Info, its page, and a challenge only with 401.
void ExpectRefused(const Outcome& outcome, int code, const std::string& info);

// The request as the driver hands it to the checks.
struct Call {
    std::string object = "/index.html";
    const Credentials* credentials = nullptr;  // no Authorization header when null
    int secure = 0;
    std::string peer = "127.0.0.1";
};

class AccessCheckTest : public CoreFixture {
protected:
    void SetUp() override
    {
        Entry("ServerPath", "/");
        Entry("LocalPath", www.Path());
        // A page that shows both texts of a refusal.
        settings.SetValue(std::string("Setting::").append(schema::kHtmlFileDirectory.path), html.Path());
        testsupport::PutFile(html.Path() + "Response_default.html", "%Info%|%Detail%");
        testsupport::PutFile(www.Path() + "index.html", "index");
        testsupport::PutFile(www.Path() + ".secret", "secret");
        std::filesystem::create_directories(www.Path() + ".hidden");
        testsupport::PutFile(www.Path() + ".hidden/inside.html", "inside");
    }

    // Before StartCore the file's tree, after it the running core's: the checks read the
    // settings on every request.
    CConfigClass& Tree() { return core ? core->GetSettingTree() : settings; }
    void Entry(const std::string& key, const std::string& value) { Tree().SetValue(kEntry + key, value); }
    void Remove(const std::string& node) { Tree().RemoveNode(kEntry + node); }
    void Option(const std::string& key, const std::string& value) { Entry("Options::" + key, value); }
    // A simple list as the controller writes it: one leaf per row, key and value alike.
    void List(const std::string& node, const std::vector<std::string>& rows)
    {
        for (const std::string& row : rows)
            Entry(node + "::" + row, row);
    }
    void Account(const std::string& state, const std::string& node, const std::string& user,
                 const std::string& password)
    {
        const std::string prefix = "Setting::User::" + state + "::" + node + "::";
        Tree().SetValue(prefix + "User", user);
        Tree().SetValue(prefix + "Passwd", password);
    }
    // Authentication on, alice the one user of the entry, with her account.
    void AliceOnly()
    {
        Option("EnableAuthenticate", "1");
        List("Users", {"alice"});
        Account("Enable", "User_0", "alice", "s3cret");
    }

    CRequestPath Resolve(const std::string& object)
    {
        return CRequestPath(object, "example.test", core->GetSettingAccessor());
    }

    // The call's request, parsed into a fresh record.
    CRequestRecord& Parse(const Call& call)
    {
        std::string header = "GET " + call.object + " HTTP/1.1\r\nHost: example.test\r\n";
        if (call.credentials)
            header +=
                "Authorization: Basic " + Base64Encode(call.credentials->user + ":" + call.credentials->password) + "\r\n";
        CRequestRecord& record = NewRecord();
        record.ParseRequest(header + "\r\n");
        return record;
    }

    // Builds a refusal the way the driver would and takes its facts.
    static Outcome Describe(const std::unique_ptr<CSystemResponse>& response)
    {
        Outcome outcome;
        outcome.refused = true;
        outcome.info = response->GetInfo();
        outcome.challenge = response->GetResponseInfo().GetString("Options::WWW-Authenticate", "");
        response->Build();
        outcome.code = response->GetResponseInfo().GetInt("ResponseCode", 0);
        CByteBuffer buffer(kPageBufferSize);
        for (int n; (n = response->GetSendData(buffer)) > 0;)
            outcome.page.append(buffer.GetData(), static_cast<size_t>(n));
        return outcome;
    }

    Outcome Check(const Call& call)
    {
        CRequestRecord& record = Parse(call);
        const CRequestPath path = Resolve(call.object);
        const CIPv4Address peer(call.peer);
        const CBandWidthLimiter limiter(&core->GetBandWidthManager(), peer, record.GetThreadName());
        const std::unique_ptr<CSystemResponse> refusal =
            CheckAccess(core.get(), record, path, limiter, call.secure, peer);
        return refusal ? Describe(refusal) : Outcome{};
    }

    Outcome Authenticated(const Credentials& credentials)
    {
        Call call;
        call.credentials = &credentials;
        return Check(call);
    }

    // With option EnableWebDAV as `webDav`, the credentials are refused with the challenge
    // or let in.
    struct CredentialCase {
        const char* description;
        const char* webDav;
        Credentials credentials;
        bool refused;
    };
    void ExpectCredentialOutcomes(const std::vector<CredentialCase>& cases)
    {
        for (const CredentialCase& c : cases) {
            SCOPED_TRACE(c.description);
            Option("EnableWebDAV", c.webDav);
            const Outcome outcome = Authenticated(c.credentials);
            if (c.refused)
                ExpectRefused(outcome, 401, kAuthRequired);
            else
                EXPECT_FALSE(outcome.refused);
        }
    }

    // The manager takes its limits when the server starts; loaded again so that a test can
    // change them on the running core.
    void LoadLimits() { core->GetBandWidthManager().LoadSettings(core->GetSettingAccessor()); }

    int HostKick(const std::string& peer) { return CheckHostKick(Resolve("/index.html"), CIPv4Address(peer)); }

    // Room for the whole test page in one chunk.
    static constexpr int kPageBufferSize = 4096;

    servertest::TempFolder www;
    servertest::TempFolder html;
};

void ExpectRefused(const Outcome& outcome, int code, const std::string& info)
{
    EXPECT_TRUE(outcome.refused);
    EXPECT_EQ(outcome.code, code);
    EXPECT_EQ(outcome.info, info);
    EXPECT_EQ(outcome.page, info + "|" + kNoDetail);
    if (code != 401) {
        EXPECT_EQ(outcome.challenge, "");
    }
}

// --- plain and secure access --------------------------------------------------------------

TEST_F(AccessCheckTest, PlainAndSecureAccessFollowTheirOptions)
{
    struct Case {
        const char* description;
        const char* acceptHttp;  // nullptr: not set
        const char* acceptHttps;
        int secure;
        const char* refusal;  // nullptr: served
    };
    const Case cases[] = {
        {"defaults, plain", nullptr, nullptr, 0, nullptr},
        {"defaults, secure", nullptr, nullptr, 1, nullptr},
        {"HTTP off, plain", "0", nullptr, 0, kHttpRefused},
        {"HTTP off, secure", "0", nullptr, 1, nullptr},
        {"HTTPS off, secure", nullptr, "0", 1, kHttpsRefused},
        {"HTTPS off, plain", nullptr, "0", 0, nullptr},
        {"both off, plain", "0", "0", 0, kHttpRefused},
        {"both off, secure", "0", "0", 1, kHttpsRefused},
        {"HTTP explicitly on", "1", "1", 0, nullptr},
    };
    StartCore();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Remove("Options");
        if (c.acceptHttp)
            Option("AcceptHTTP", c.acceptHttp);
        if (c.acceptHttps)
            Option("AcceptHTTPS", c.acceptHttps);
        Call call;
        call.secure = c.secure;
        const Outcome outcome = Check(call);
        if (c.refusal)
            ExpectRefused(outcome, 403, c.refusal);
        else
            EXPECT_FALSE(outcome.refused);
    }
}

// --- host lists ---------------------------------------------------------------------------

TEST_F(AccessCheckTest, HostListsDecideByPeerAddress)
{
    struct Case {
        const char* description;
        const char* enable;  // EnableHostKick; nullptr: not set
        std::vector<std::string> denied;
        std::vector<std::string> accept;
        const char* peer;
        int refused;
    };
    const std::vector<Case> cases = {
        {"filter off by default, lists ignored", nullptr, {"*"}, {}, "10.0.0.1", 0},
        {"filter off explicitly", "0", {"*"}, {}, "10.0.0.1", 0},
        {"denied pattern matches", "1", {"192.168.*"}, {"*"}, "192.168.0.5", 1},
        {"denied pattern does not match", "1", {"192.168.*"}, {"*"}, "10.0.0.1", 0},
        {"no lists refuse everyone", "1", {}, {}, "127.0.0.1", 1},
        {"denied only refuses everyone", "1", {"192.168.*"}, {}, "10.0.0.1", 1},
        {"accept pattern matches", "1", {}, {"10.0.0.*"}, "10.0.0.1", 0},
        {"accept pattern does not match", "1", {}, {"10.0.0.*"}, "10.0.1.1", 1},
        {"denied wins over accept", "1", {"10.0.0.1"}, {"10.0.0.1"}, "10.0.0.1", 1},
        {"second accept pattern matches", "1", {}, {"172.16.*", "10.*"}, "10.9.9.9", 0},
        {"'?' stands for one byte", "1", {}, {"192.168.0.?"}, "192.168.0.5", 0},
        {"'?' is not two bytes", "1", {}, {"192.168.0.?"}, "192.168.0.50", 1},
        {"pattern covers the whole address", "1", {}, {"192.168.0.5"}, "192.168.0.55", 1},
    };
    StartCore();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Remove("Options");
        Remove("Kick");
        if (c.enable)
            Option("EnableHostKick", c.enable);
        List("Kick::Denied", c.denied);
        List("Kick::Accept", c.accept);
        EXPECT_EQ(HostKick(c.peer), c.refused);
    }
}

TEST_F(AccessCheckTest, RefusedHostIsNamedInTheInfo)
{
    Option("EnableHostKick", "1");
    List("Kick::Denied", {"192.168.*"});
    List("Kick::Accept", {"*"});
    StartCore();

    Call refused;
    refused.peer = "192.168.0.5";
    ExpectRefused(Check(refused), 403, HostRefused("192.168.0.5"));

    Call allowed;
    allowed.peer = "10.0.0.1";
    EXPECT_FALSE(Check(allowed).refused);
}

TEST_F(AccessCheckTest, HostListsIgnoreTheHostHeader)
{
    Option("EnableHostKick", "1");
    List("Kick::Accept", {"example.test", "10.0.0.1"});
    StartCore();
    Call call;
    call.peer = "192.168.0.5";
    ExpectRefused(Check(call), 403, HostRefused("192.168.0.5"));
}

TEST_F(AccessCheckTest, RefusedHostGets403EvenWithValidCredentials)
{
    AliceOnly();
    Option("EnableHostKick", "1");
    List("Kick::Denied", {"192.168.*"});
    List("Kick::Accept", {"*"});
    StartCore();
    const Credentials alice{"alice", "s3cret"};
    Call call;
    call.credentials = &alice;
    call.peer = "192.168.0.5";
    ExpectRefused(Check(call), 403, HostRefused("192.168.0.5"));
}

TEST_F(AccessCheckTest, PlainAccessRuleComesBeforeHostRule)
{
    Option("AcceptHTTP", "0");
    Option("EnableHostKick", "1");
    StartCore();
    ExpectRefused(Check(Call{}), 403, kHttpRefused);
}

// --- per-host connection limit ------------------------------------------------------------

TEST_F(AccessCheckTest, HostOverItsConnectionLimitGets503)
{
    struct Case {
        const char* description;
        const char* maxOneHost;
        int othersFromPeer;
        int othersFromElsewhere;
        bool refused;
    };
    const Case cases[] = {
        {"no limit", "0", 5, 0, false},
        {"limit 2, alone", "2", 0, 0, false},
        {"limit 2, one other: at the limit", "2", 1, 0, false},
        {"limit 2, two others: above it", "2", 2, 0, true},
        {"limit 2, others from another host", "2", 0, 4, false},
        {"limit 1, one other", "1", 1, 0, true},
    };
    StartCore();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Tree().SetValue("Setting::Basic::MaxOneHostConnect", c.maxOneHost);
        LoadLimits();
        std::vector<std::unique_ptr<CBandWidthLimiter>> others;
        for (int i = 0; i < c.othersFromPeer; ++i)
            others.push_back(std::make_unique<CBandWidthLimiter>(&core->GetBandWidthManager(),
                                                                 CIPv4Address("127.0.0.1"), "peer" + std::to_string(i)));
        for (int i = 0; i < c.othersFromElsewhere; ++i)
            others.push_back(std::make_unique<CBandWidthLimiter>(&core->GetBandWidthManager(),
                                                                 CIPv4Address("10.0.0.1"), "other" + std::to_string(i)));
        const Outcome outcome = Check(Call{});
        if (c.refused)
            ExpectRefused(outcome, 503, kHostOverLimit);
        else
            EXPECT_FALSE(outcome.refused);
    }
}

TEST_F(AccessCheckTest, ConnectionLimitTextStartsWithFullWidthOne)
{
    settings.SetValue("Setting::Basic::MaxOneHostConnect", "1");
    StartCore();
    const CBandWidthLimiter other(&core->GetBandWidthManager(), CIPv4Address("127.0.0.1"), "other");
    const Outcome outcome = Check(Call{});
    ASSERT_GE(outcome.info.size(), 2u);
    // U+FF11 FULLWIDTH DIGIT ONE in CP932.
    EXPECT_EQ(outcome.info.substr(0, 2), "\x82\x50");
}

TEST_F(AccessCheckTest, ConnectionLimitComesBeforeHiddenFilesAndAuthentication)
{
    AliceOnly();
    settings.SetValue("Setting::Basic::MaxOneHostConnect", "1");
    StartCore();
    const CBandWidthLimiter other(&core->GetBandWidthManager(), CIPv4Address("127.0.0.1"), "other");
    Call call;
    call.object = "/.secret";
    ExpectRefused(Check(call), 503, kHostOverLimit);
}

// --- hidden files -------------------------------------------------------------------------

TEST_F(AccessCheckTest, HiddenTargetsFollowTheOption)
{
    struct Case {
        const char* description;
        const char* enableHidden;  // nullptr: not set
        const char* object;
        bool refused;
    };
    const Case cases[] = {
        {"hidden file, default", nullptr, "/.secret", true},
        {"hidden file, option 0", "0", "/.secret", true},
        {"file in a hidden folder", "0", "/.hidden/inside.html", true},
        {"hidden folder itself", "0", "/.hidden/", true},
        {"hidden file allowed", "1", "/.secret", false},
        {"plain file", "0", "/index.html", false},
        {"missing hidden name is left to the response", "0", "/.missing", false},
    };
    StartCore();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Remove("Options");
        if (c.enableHidden)
            Option("EnableHiddenFile", c.enableHidden);
        Call call;
        call.object = c.object;
        const Outcome outcome = Check(call);
        if (c.refused)
            ExpectRefused(outcome, 403, kHiddenRefused);
        else
            EXPECT_FALSE(outcome.refused);
    }
}

TEST_F(AccessCheckTest, HiddenFileIsRefusedBeforeCredentialsAreAsked)
{
    AliceOnly();
    StartCore();
    Call call;
    call.object = "/.secret";
    const Outcome outcome = Check(call);
    ExpectRefused(outcome, 403, kHiddenRefused);
    EXPECT_EQ(outcome.challenge, "");
}

TEST_F(AccessCheckTest, AllowedHiddenFileStillAsksForCredentials)
{
    AliceOnly();
    Option("EnableHiddenFile", "1");
    StartCore();
    Call call;
    call.object = "/.secret";
    ExpectRefused(Check(call), 401, kAuthRequired);
}

// --- Basic authentication -----------------------------------------------------------------

TEST_F(AccessCheckTest, AuthenticationOffServesWithoutCredentials)
{
    List("Users", {"alice"});
    Account("Enable", "User_0", "alice", "s3cret");
    StartCore();
    EXPECT_FALSE(Check(Call{}).refused);
    EXPECT_FALSE(Authenticated({"mallory", "guess"}).refused);
}

TEST_F(AccessCheckTest, BasicCredentialsAreComparedExactly)
{
    AliceOnly();
    Account("Enable", "User_1", "bob", "hunter2");  // an account, but not a user of the entry
    StartCore();
    struct Case {
        const char* description;
        Credentials credentials;
        bool refused;
    };
    const Case cases[] = {
        {"alice with her password", {"alice", "s3cret"}, false},
        {"another password", {"alice", "wrong"}, true},
        {"password in other case", {"alice", "S3CRET"}, true},
        {"password with a trailing blank", {"alice", "s3cret "}, true},
        {"user in other case", {"Alice", "s3cret"}, true},
        {"empty password", {"alice", ""}, true},
        {"account not listed for the entry", {"bob", "hunter2"}, true},
        {"another user's password", {"alice", "hunter2"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const Outcome outcome = Authenticated(c.credentials);
        if (c.refused)
            ExpectRefused(outcome, 401, kAuthRequired);
        else
            EXPECT_FALSE(outcome.refused);
    }
}

TEST_F(AccessCheckTest, MissingCredentialsGetTheChallengeWithTheEntrysRealm)
{
    AliceOnly();
    Entry("Info", "Members");
    StartCore();
    const Outcome outcome = Check(Call{});
    ExpectRefused(outcome, 401, kAuthRequired);
    EXPECT_EQ(outcome.challenge, "Basic realm=\"Members\"");
}

TEST_F(AccessCheckTest, EntryWithoutInfoGivesAnEmptyRealm)
{
    AliceOnly();
    StartCore();
    EXPECT_EQ(Check(Call{}).challenge, "Basic realm=\"\"");
}

TEST_F(AccessCheckTest, RealmIsQuotedSoSettingsCannotBreakTheHeader)
{
    AliceOnly();
    StartCore();
    struct Case {
        const char* description;
        std::string info;
        std::string challenge;
    };
    const Case cases[] = {
        {"quote and backslash become quoted-pairs", "a \"b\" \\c", "Basic realm=\"a \\\"b\\\" \\\\c\""},
        {"CR and LF are dropped", "a\r\nWWW-Authenticate: Digest", "Basic realm=\"aWWW-Authenticate: Digest\""},
        {"other control bytes are dropped, HTAB kept", std::string("a\x01\x7f\tb"), "Basic realm=\"a\tb\""},
        // 表 is 0x95 0x5C: the trail byte reads as a backslash to a recipient.
        {"trail byte 0x5C is escaped too", "表", "Basic realm=\"\x95\\\\\""},
        {"double-byte text passes", "会員", "Basic realm=\"会員\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Entry("Info", c.info);
        EXPECT_EQ(Check(Call{}).challenge, c.challenge);
    }
}

TEST_F(AccessCheckTest, DomainUserCountsAsUserOnlyWithWebDav)
{
    AliceOnly();
    Account("Enable", "User_1", "表示", "pw");
    List("Users", {"表示"});
    StartCore();
    ExpectCredentialOutcomes({
        {"WebDAV on, DOMAIN\\alice", "1", {"DOMAIN\\alice", "s3cret"}, false},
        {"WebDAV on, plain alice", "1", {"alice", "s3cret"}, false},
        {"WebDAV on, empty domain", "1", {"\\alice", "s3cret"}, false},
        {"WebDAV on, wrong password", "1", {"DOMAIN\\alice", "wrong"}, true},
        {"WebDAV on, cut at the first backslash only", "1", {"A\\B\\alice", "s3cret"}, true},
        {"WebDAV on, trail byte 0x5C is no separator", "1", {"表示", "pw"}, false},
        {"WebDAV off, DOMAIN\\alice", "0", {"DOMAIN\\alice", "s3cret"}, true},
        {"WebDAV off, plain alice", "0", {"alice", "s3cret"}, false},
    });
}

// Browsers send Basic credentials in UTF-8 (RFC 7617 2.1); the accounts are Shift-JIS.
TEST_F(AccessCheckTest, Utf8CredentialsAreAlsoTriedInShiftJis)
{
    AliceOnly();
    Account("Enable", "User_1", "山田", "パス");
    Account("Enable", "User_2", "山田", "パス?");
    Account("Enable", "User_3", "wave", "a\x81\x60");
    Account("Enable", "User_4", "佐藤", "pw");
    List("Users", {"alice", "山田", "wave", "佐藤"});
    StartCore();
    ExpectCredentialOutcomes({
        {"Shift-JIS, as stored", "0", {"山田", "パス"}, false},
        {"UTF-8", "0", {u8"山田", u8"パス"}, false},
        {"UTF-8 user, ASCII password", "0", {u8"佐藤", "pw"}, false},
        {"UTF-8 with a wrong password", "0", {u8"山田", u8"パン"}, true},
        {"UTF-8 user, Shift-JIS password: neither reading", "0", {u8"山田", "パス"}, true},
        {"a character Shift-JIS lacks is no '?'", "0", {u8"山田", u8"パス\u20AC"}, true},
        {"the JIS spelling of a code page character", "0", {"wave", u8"a\u301C"}, false},
        {"ASCII", "0", {"alice", "s3cret"}, false},
        {"UTF-8 DOMAIN\\user with WebDAV", "1", {u8"ドメイン\\山田", u8"パス"}, false},
    });
}

TEST_F(AccessCheckTest, DisabledAccountsAreNeverUsed)
{
    Option("EnableAuthenticate", "1");
    List("Users", {"alice", "carol"});
    Account("Enable", "User_0", "alice", "s3cret");
    Account("Disable", "User_0", "carol", "pw");
    Account("Disable", "User_1", "alice", "old");
    StartCore();
    ExpectRefused(Authenticated({"carol", "pw"}), 401, kAuthRequired);
    ExpectRefused(Authenticated({"alice", "old"}), 401, kAuthRequired);
    EXPECT_FALSE(Authenticated({"alice", "s3cret"}).refused);
}

TEST_F(AccessCheckTest, AnyEnabledAccountWithTheNameAndPasswordCounts)
{
    Option("EnableAuthenticate", "1");
    List("Users", {"alice"});
    Account("Enable", "User_0", "alice", "first");
    Account("Enable", "User_1", "alice", "second");
    StartCore();
    EXPECT_FALSE(Authenticated({"alice", "first"}).refused);
    EXPECT_FALSE(Authenticated({"alice", "second"}).refused);
}

TEST_F(AccessCheckTest, AccountNodeNameIsNotTheUserName)
{
    Option("EnableAuthenticate", "1");
    List("Users", {"alice"});
    Account("Enable", "alice", "dave", "pw");
    StartCore();
    ExpectRefused(Authenticated({"alice", "pw"}), 401, kAuthRequired);
}

TEST_F(AccessCheckTest, EmptyCredentialsNeedAnEmptyListedUserAndAnEmptyAccount)
{
    struct Case {
        const char* description;
        bool emptyListed;
        bool emptyAccount;
        bool refused;
    };
    const Case cases[] = {
        {"both", true, true, false},
        {"no empty value in Users", false, true, true},
        {"no empty account", true, false, true},
        {"neither", false, false, true},
    };
    StartCore();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Tree().RemoveNode("Setting::User");
        Remove("Users");
        AliceOnly();
        // Only the values of the list are read; an empty row's key is immaterial.
        if (c.emptyListed)
            Entry("Users::blank", "");
        if (c.emptyAccount)
            Account("Enable", "User_9", "", "");
        const Outcome withoutHeader = Check(Call{});
        const Outcome emptyPair = Authenticated({"", ""});
        if (c.refused) {
            ExpectRefused(withoutHeader, 401, kAuthRequired);
            ExpectRefused(emptyPair, 401, kAuthRequired);
        } else {
            EXPECT_FALSE(withoutHeader.refused);
            EXPECT_FALSE(emptyPair.refused);
        }
    }
}

TEST_F(AccessCheckTest, CredentialsAreNotFilledWithPlaceholders)
{
    Option("EnableAuthenticate", "1");
    List("Users", {"alice"});
    Account("Enable", "User_0", "alice", "%Year%");
    StartCore();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string year = std::to_string(local.tm_year + 1900);

    EXPECT_FALSE(Authenticated({"alice", "%Year%"}).refused);
    ExpectRefused(Authenticated({"alice", year}), 401, kAuthRequired);
}

// --- FindUser -----------------------------------------------------------------------------

TEST_F(AccessCheckTest, FindUserNeedsTheEntrysListAndAnEnabledAccount)
{
    List("Users", {"alice", "bob"});
    Account("Enable", "User_0", "alice", "s3cret");
    Account("Disable", "User_1", "bob", "pw");
    StartCore();
    const CRequestPath path = Resolve("/index.html");
    EXPECT_EQ(FindUser("alice", "s3cret", path), 1);
    EXPECT_EQ(FindUser("alice", "wrong", path), 0);
    EXPECT_EQ(FindUser("bob", "pw", path), 0);
    EXPECT_EQ(FindUser("", "", path), 0);
    EXPECT_EQ(FindUser("alic", "s3cret", path), 0);
    EXPECT_EQ(FindUser("alice ", "s3cret", path), 0);
}

}  // namespace

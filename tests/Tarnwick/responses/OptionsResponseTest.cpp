#include "responses/OptionsResponse.h"

#include "ServerTestSupport.h"
#include "http/CoreFixture.h"

#include "ByteBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;

const char kAll[] = "OPTIONS, GET, HEAD, DELETE, PUT, POST, COPY, MOVE, MKCOL, PROPFIND";

TEST(OptionsResponseAllow, ListsTheMethodsOfThePath)
{
    const struct {
        const char* description;
        bool asterisk;
        bool exists;
        bool write;
        bool webDav;
        const char* allow;
    } cases[] = {
        {"the server as a whole, no options", true, false, false, false, kAll},
        {"the server as a whole, every option", true, true, true, true, kAll},
        {"exists, no options", false, true, false, false, "OPTIONS, GET, HEAD, POST"},
        {"exists, write", false, true, true, false, "OPTIONS, GET, HEAD, POST, DELETE, PUT, COPY, MKCOL, MOVE"},
        {"exists, write and WebDAV", false, true, true, true,
         "OPTIONS, GET, HEAD, POST, DELETE, PUT, COPY, MKCOL, MOVE, PROPFIND"},
        {"exists, WebDAV", false, true, false, true, "OPTIONS, GET, HEAD, POST, PROPFIND"},
        {"missing, no options", false, false, false, false, "OPTIONS"},
        {"missing, WebDAV", false, false, false, true, "OPTIONS"},
        {"missing, write", false, false, true, false, "OPTIONS, DELETE, PUT, COPY, MOVE"},
        {"missing, write and WebDAV", false, false, true, true, "OPTIONS, DELETE, PUT, COPY, MOVE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(COptionsResponse::AllowedMethods(c.asterisk, c.exists, c.write, c.webDav), c.allow)
            << c.description;
}

// The served folder, below the server root.
const char kFolder[] = "OptionsResponse/";

class OptionsResponseTest : public CoreFixture {
protected:
    void SetUp() override
    {
        const std::string local = servertest::ServerRoot() + kFolder;
        AddEntry("Path_0", "/", local, "", "");
        AddEntry("Path_1", "/w/", local, "1", "");
        AddEntry("Path_2", "/d/", local, "", "1");
        AddEntry("Path_3", "/wd/", local, "1", "1");
        // Option keys are matched exactly: these spellings switch nothing on.
        AddEntry("Path_4", "/case/", local, "", "");
        settings.SetValue("Setting::Path::Path_4::Options::enablewrite", "1");
        settings.SetValue("Setting::Path::Path_4::Options::EnableWebdav", "1");
        settings.SetValue("Setting::Path::Path_5::ServerPath", "/fw/");
        settings.SetValue("Setting::Path::Path_5::Forward", "http://elsewhere.test/");
        StartCore();
        PutFile(std::string(kFolder) + "a.txt", "hello");
        fs::create_directories(local + "sub");
    }

    void TearDown() override
    {
        CoreFixture::TearDown();
        std::error_code ignored;
        fs::remove_all(servertest::ServerRoot() + kFolder, ignored);
    }

    void AddEntry(const std::string& key, const std::string& serverPath, const std::string& local,
                  const std::string& write, const std::string& webDav)
    {
        const std::string entry = "Setting::Path::" + key + "::";
        settings.SetValue(entry + "ServerPath", serverPath);
        settings.SetValue(entry + "LocalPath", local);
        if (!write.empty())
            settings.SetValue(entry + "Options::EnableWrite", write);
        if (!webDav.empty())
            settings.SetValue(entry + "Options::EnableWebDAV", webDav);
    }

    // Builds the answer to "OPTIONS <target>" as the pipeline does.
    CConfigAccessor Answer(const std::string& target)
    {
        CRequestRecord& record = NewRecord();
        const CHttpRequest& request = record.ParseRequest("OPTIONS " + target + " HTTP/1.1\r\nHost: test\r\n\r\n");
        const CRequestPath& path = NewPath(request.GetObject());
        COptionsResponse response(core.get(), record, path);
        response.BeginReceive();
        CByteBuffer chunk;
        chunk.AssignString("ignored");
        response.ReceiveData(chunk);
        response.Build();
        EXPECT_EQ(response.GetContentLength(), 0) << target;
        CByteBuffer buffer;
        buffer.AssignString("untouched");
        EXPECT_EQ(response.GetSendData(buffer), 0) << target;
        EXPECT_EQ(buffer.ToString(), "untouched") << target;
        headerText = BuildHeaderText(response.Answer());
        return response.GetResponseInfo();
    }

    std::string headerText;  // of the last Answer, without Content-Length
};

TEST_F(OptionsResponseTest, ExistingFileWithoutOptionsAnnouncesDavAndTheReadMethods)
{
    const CConfigAccessor info = Answer("/a.txt");
    EXPECT_EQ(info.GetInt("ResponseCode", 0), 200);
    EXPECT_EQ(info.GetString("ResponseText", ""), "200 OK");
    EXPECT_EQ(info.GetString("Options::Allow", ""), "OPTIONS, GET, HEAD, POST");
    EXPECT_EQ(info.GetString("Options::Dav", ""), "1");
    EXPECT_EQ(info.GetString("Options::MS-Author-Via", ""), "DAV");
    EXPECT_EQ(info.GetString("Options::Public", ""), kAll);
    // The header block as sent.
    EXPECT_NE(headerText.find("\r\nDav: 1\r\n"), std::string::npos) << headerText;
    EXPECT_NE(headerText.find("\r\nAllow: OPTIONS, GET, HEAD, POST\r\n"), std::string::npos) << headerText;
}

TEST_F(OptionsResponseTest, AllowFollowsThePathsOptionsAndTheTarget)
{
    const struct {
        const char* target;
        const char* allow;
    } cases[] = {
        {"/a.txt", "OPTIONS, GET, HEAD, POST"},
        {"/sub/", "OPTIONS, GET, HEAD, POST"},
        {"/missing", "OPTIONS"},
        {"/w/a.txt", "OPTIONS, GET, HEAD, POST, DELETE, PUT, COPY, MKCOL, MOVE"},
        {"/w/missing", "OPTIONS, DELETE, PUT, COPY, MOVE"},
        {"/d/a.txt", "OPTIONS, GET, HEAD, POST, PROPFIND"},
        {"/d/missing", "OPTIONS"},
        {"/wd/sub/", "OPTIONS, GET, HEAD, POST, DELETE, PUT, COPY, MKCOL, MOVE, PROPFIND"},
        {"/wd/missing/", "OPTIONS, DELETE, PUT, COPY, MOVE"},
        {"/case/a.txt", "OPTIONS, GET, HEAD, POST"},
        // Redirecting paths count as existing: OPTIONS is answered before any redirect.
        {"/sub", "OPTIONS, GET, HEAD, POST"},
        {"/wd/sub", "OPTIONS, GET, HEAD, POST, DELETE, PUT, COPY, MKCOL, MOVE, PROPFIND"},
        {"/fw/anything", "OPTIONS, GET, HEAD, POST"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Answer(c.target).GetString("Options::Allow", ""), c.allow) << c.target;
}

TEST_F(OptionsResponseTest, AsteriskTargetListsEveryMethodOnAnyPath)
{
    const CConfigAccessor info = Answer("*");
    EXPECT_EQ(info.GetInt("ResponseCode", 0), 200);
    EXPECT_EQ(info.GetString("Options::Allow", ""), kAll);
    EXPECT_EQ(info.GetString("Options::Public", ""), kAll);
    // Only the bare asterisk means the server: a path of that name is an ordinary target.
    EXPECT_EQ(Answer("/*").GetString("Options::Allow", ""), "OPTIONS");
}

}  // namespace

#pragma once
// Every key of the settings file in one table: where it lives, what is taken when it is
// missing, and what it means. The server's reads, the controller's pages, the first
// settings that tarnwick-make-root writes and docs/settings.md all follow it; tests hold the
// document and the root maker to it.
//
// A key's path is relative to the node it is read under, its scope: the "Setting" node, or
// one entry of a node of entries (a path entry under "Path", a CGI handler under "CGI", an
// account under "User::Enable" or "User::Disable"). Levels are joined with "::" as the tree
// does; "Html\HtmlFileDirectory" is one leaf whose name holds a backslash.
//
// Code reads through the named keys at the end (kPort, kEnableWrite, ...), not through the
// table: each is looked up in the table when compiled, so a path that the table lacks, or a
// number read as a text, does not compile, and a read costs what a literal key and default
// cost. The table itself serves what walks every key: the root maker and the tests.

#include "ConfigAccessor.h"

#include <cstddef>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace schema {

// The node a key's path starts from.
enum Scope {
    kInSetting,     // "Setting"
    kInPathEntry,   // one child of "Setting::Path"
    kInCgiHandler,  // one child of "Setting::CGI"
    kInAccount,     // one child of "Setting::User::Enable" or "Setting::User::Disable"
};

enum Kind {
    kNumber,   // a decimal integer
    kSwitch,   // 1 on, 0 off
    kText,
    kList,     // a node whose leaves' values are its rows, in stored order
    kEntries,  // a node whose children are its entries, in stored order
};

// Which programs read a key. The controller reads what its pages edit.
enum Readers {
    kServerAndController,
    kServerOnly,
    kControllerOnly,  // the server ignores it
};

// What tarnwick-make-root writes for a key into a first root.
enum FirstRoot {
    kNotWritten,
    kWritten,    // SettingRow::firstRootValue
    kGenerated,  // made by the root maker from its own data (the MIME types of the system)
};

// One key. Built with Key() and the modifiers below, so that each row of the table reads as
// its path, its default and its meaning, then how a program departs from them.
struct SettingRow {
    Scope scope;
    std::string_view path;
    Kind kind;
    // The value taken when the key is missing, as stored ("80", "%ServerRoot%Html/"): the
    // server's, or the controller's for a key only the controller reads. Lists and entries
    // start empty: "".
    std::string_view defaultValue;
    std::string_view meaning;
    Readers readers = kServerAndController;

    // Where the controller shows another value for a missing key, and why.
    bool controllerDiffers = false;
    std::string_view controllerDefault;
    std::string_view controllerReason;

    // What a first root holds. A list's value is its rows, separated by blanks. A key of an
    // entry scope is written into the first entry of its node (Path_0).
    FirstRoot firstRoot = kNotWritten;
    std::string_view firstRootValue;
    std::string_view firstRootReason;

    // For a node of entries or a list: how the controller names what it writes (printf
    // formats of an index counted from 0, "" where an entry is named by its name or a leaf
    // by its value), and, for entries, the scope of the keys inside each entry.
    const char* entryNames = "";
    const char* leafNames = "";
    Scope entryScope = kInSetting;

    constexpr SettingRow ControllerShows(std::string_view value, std::string_view reason) const
    {
        SettingRow row = *this;
        row.controllerDiffers = true;
        row.controllerDefault = value;
        row.controllerReason = reason;
        return row;
    }
    constexpr SettingRow WrittenToFirstRoot(std::string_view value, std::string_view reason) const
    {
        SettingRow row = *this;
        row.firstRoot = kWritten;
        row.firstRootValue = value;
        row.firstRootReason = reason;
        return row;
    }
    constexpr SettingRow GeneratedForFirstRoot(std::string_view reason) const
    {
        SettingRow row = *this;
        row.firstRoot = kGenerated;
        row.firstRootReason = reason;
        return row;
    }
    constexpr SettingRow ReadBy(Readers readers) const
    {
        SettingRow row = *this;
        row.readers = readers;
        return row;
    }
    // Entries named by `names` ("Path_%d"; "" for by their own name), whose keys are in `scope`.
    constexpr SettingRow EntriesNamed(const char* names, Scope scope) const
    {
        SettingRow row = *this;
        row.entryNames = names;
        row.entryScope = scope;
        return row;
    }
    // Leaves of a list, or of each entry, named by `names` ("Ext_%02d").
    constexpr SettingRow LeavesNamed(const char* names) const
    {
        SettingRow row = *this;
        row.leafNames = names;
        return row;
    }
    // The value a missing key shows in the controller.
    constexpr std::string_view ControllerDefault() const
    {
        return controllerDiffers ? controllerDefault : defaultValue;
    }
};

constexpr SettingRow Key(Scope scope, std::string_view path, Kind kind, std::string_view defaultValue,
                         std::string_view meaning)
{
    SettingRow row{};
    row.scope = scope;
    row.path = path;
    row.kind = kind;
    row.defaultValue = defaultValue;
    row.meaning = meaning;
    return row;
}

// In the order of docs/settings.md. The order also sets the order of the leaves and nodes
// that the root maker writes.
inline constexpr SettingRow kTable[] = {
    // Basic: ports and connections. The port is HTTP's own (RFC 9110 4.2.1); fifty clients at
    // once fit the stack and descriptors of an ordinary machine; five minutes outlast a slow
    // client or CGI program, and still free a connection that hangs well before an
    // administrator would notice it.
    Key(kInSetting, "Basic::Port", kNumber, "80", "the HTTP port")
        .WrittenToFirstRoot("8080", "a first run starts without root rights, which port 80 needs"),
    Key(kInSetting, "Basic::EnableSSL", kSwitch, "0", "also listen for HTTPS on SSL::Port"),
    Key(kInSetting, "Basic::MaxConnect", kNumber, "50", "connections served at once; one more gets 503"),
    Key(kInSetting, "Basic::MaxOneHostConnect", kNumber, "0", "connections at once from one address; 0: no limit"),
    Key(kInSetting, "Basic::TimeOut", kNumber, "300", "seconds one blocking step of a connection may take"),
    Key(kInSetting, "Basic::EnableKeepAlive", kSwitch, "0", "keep a connection open when the client asks")
        .ControllerShows("1", "a first visit of the network page turns keep-alive on")
        .WrittenToFirstRoot("1", "as the controller suggests: browsers reuse their connections"),
    Key(kInSetting, "Basic::KeepAliveTime", kNumber, "20", "seconds a kept-alive connection waits for a request"),
    Key(kInSetting, "Basic::MaxKeepAlive", kNumber, "5", "the request count announced in the Keep-Alive header"),

    // Enhance: listener threads
    Key(kInSetting, "Enhance::ListenThreadCount", kNumber, "3", "threads accepting HTTP connections")
        .ReadBy(kServerOnly),
    Key(kInSetting, "Enhance::ListenThreadCountSSL", kNumber, "3", "threads accepting HTTPS connections")
        .ReadBy(kServerOnly),
    Key(kInSetting, "Enhance::MaxListenQueue", kNumber, "50", "accepted connections waiting for the core at most")
        .ReadBy(kServerOnly),

    // SSL: HTTPS
    Key(kInSetting, "SSL::Port", kNumber, "443", "the HTTPS port"),
    Key(kInSetting, "SSL::PrivateKey", kText, "%ServerRoot%SSLKey/key.pem", "the private key file, PEM")
        .ControllerShows("%ServerRoot%SSLKey/Tarnwick.pem", "the file the controller's key dialog makes"),
    Key(kInSetting, "SSL::Certificate", kText, "%ServerRoot%SSLKey/ca.crt", "the certificate file, PEM")
        .ControllerShows("%ServerRoot%SSLKey/Tarnwick.crt", "the file the controller's key dialog makes"),
    Key(kInSetting, "SSL::Password", kText, "wemp", "the pass phrase of an encrypted key"),

    // Index: index documents
    Key(kInSetting, "Index", kList, "", "index document names, tried in order in a requested folder")
        .WrittenToFirstRoot("index.html index.htm", "the names of the first root's own index page"),

    // Path: path entries
    Key(kInSetting, "Path", kEntries, "", "the path entries; without one every request is refused")
        .EntriesNamed("Path_%d", kInPathEntry),
    Key(kInPathEntry, "Info", kText, "", "a description; the realm of Basic authentication")
        .WrittenToFirstRoot("Tarnwick", "one path entry, since without one every request is refused"),
    Key(kInPathEntry, "VirtualHost", kText, "*", "the host names served, a pattern")
        .WrittenToFirstRoot("*", "the first entry serves every host name"),
    Key(kInPathEntry, "ServerPath", kText, "/", "the URL prefix, '/' first and last")
        .ControllerShows("", "a new entry's fields start empty, for the user to fill in")
        .WrittenToFirstRoot("/", "the first entry serves every URL"),
    Key(kInPathEntry, "LocalPath", kText, "%ServerRoot%www/", "the folder served under the prefix")
        .ControllerShows("", "a new entry's fields start empty, for the user to fill in")
        .WrittenToFirstRoot("%ServerRoot%www/", "the folder the root maker fills with an index page and icons"),
    Key(kInPathEntry, "Forward", kText, "", "a URL to redirect the entry's requests to"),
    Key(kInPathEntry, "Users", kList, "", "the user names let in when authentication is on"),
    Key(kInPathEntry, "Kick::Accept", kList, "", "address patterns let in when the host lists apply"),
    Key(kInPathEntry, "Kick::Denied", kList, "", "address patterns refused when the host lists apply"),
    Key(kInPathEntry, "Options::EnableIndex", kSwitch, "0", "list a folder that has no index document")
        .ControllerShows("1", "a new entry's options page allows listings; the list of entries shows the server's 0")
        .WrittenToFirstRoot("1", "a first root lists its folders"),
    Key(kInPathEntry, "Options::EnableHiddenFile", kSwitch, "0", "serve and list names that begin with '.'"),
    Key(kInPathEntry, "Options::EnableWrite", kSwitch, "0", "accept PUT, MKCOL, DELETE, COPY and MOVE"),
    Key(kInPathEntry, "Options::EnableWebDAV", kSwitch, "0", "accept PROPFIND"),
    Key(kInPathEntry, "Options::EnableSSICGI", kSwitch, "0", "run CGI programs and server-side includes"),
    Key(kInPathEntry, "Options::EnableAuthenticate", kSwitch, "0", "ask for Basic authentication"),
    Key(kInPathEntry, "Options::EnableBandWidthLimit", kSwitch, "0", "put transfers under the Limit rates"),
    Key(kInPathEntry, "Options::EnableHostKick", kSwitch, "0", "apply the entry's host lists"),
    Key(kInPathEntry, "Options::AcceptHTTP", kSwitch, "1", "serve the entry over plain HTTP"),
    Key(kInPathEntry, "Options::AcceptHTTPS", kSwitch, "1", "serve the entry over HTTPS"),
    Key(kInPathEntry, "Selected", kSwitch, "0", "the entry is selected in the controller's list")
        .ReadBy(kControllerOnly),

    // User: accounts
    Key(kInSetting, "User::Enable", kEntries, "", "the accounts Basic authentication accepts")
        .EntriesNamed("", kInAccount),
    Key(kInSetting, "User::Disable", kEntries, "", "accounts switched off, kept for later")
        .EntriesNamed("", kInAccount)
        .ReadBy(kControllerOnly),
    Key(kInAccount, "User", kText, "", "the user name"),
    Key(kInAccount, "Passwd", kText, "", "the password, stored as written"),
    Key(kInAccount, "Comment", kText, "", "a note shown beside the name").ReadBy(kControllerOnly),

    // Limit: bandwidth, KiB per second; 0 or less: no limit
    Key(kInSetting, "Limit::Send::MaxServerBandWidth", kNumber, "0", "all limited answers together"),
    Key(kInSetting, "Limit::Send::MaxOneHostBandWidth", kNumber, "0", "limited answers to one address"),
    Key(kInSetting, "Limit::Send::MaxOneConnectBandWidth", kNumber, "0", "one limited answer"),
    Key(kInSetting, "Limit::Recv::MaxServerBandWidth", kNumber, "0", "all limited request bodies together"),
    Key(kInSetting, "Limit::Recv::MaxOneHostBandWidth", kNumber, "0", "request bodies from one address"),
    Key(kInSetting, "Limit::Recv::MaxOneConnectBandWidth", kNumber, "0", "one request body"),

    // CGI and SSI
    Key(kInSetting, "CGI", kEntries, "", "the CGI handlers, tried in order").EntriesNamed("CGI_%02d", kInCgiHandler),
    Key(kInCgiHandler, "FileExt", kText, "", "the file extension without dot"),
    Key(kInCgiHandler, "Command", kText, "", "the command line, with %FilePath% and %Query%"),
    Key(kInCgiHandler, "FileHeader", kText, "", "text the file's first line must hold"),
    Key(kInCgiHandler, "ExecuteFile", kSwitch, "0", "the file is a program itself"),
    Key(kInSetting, "SSI", kList, "", "extensions of documents whose include directives are carried out"),
    Key(kInSetting, "CGIEnvironment::EnableGetHostName", kSwitch, "0", "look up REMOTE_HOST"),

    // MimeType and IconType
    Key(kInSetting, "MimeType", kEntries, "", "a child per MIME type, a leaf per extension")
        .LeavesNamed("Ext_%02d")
        .GeneratedForFirstRoot("the system's MIME types, or a short list of common ones"),
    Key(kInSetting, "MimeType::Text", kText, "", "the controller's editor text of the MIME types")
        .ReadBy(kControllerOnly)
        .GeneratedForFirstRoot("the editor text of the types written"),
    Key(kInSetting, "IconType", kEntries, "", "a child per listing icon, a leaf per filter")
        .LeavesNamed("Filter_%02d")
        .GeneratedForFirstRoot("the icons the root maker draws into www/icons/"),
    Key(kInSetting, "IconType::Text", kText, "", "the controller's editor text of the icons")
        .ReadBy(kControllerOnly)
        .GeneratedForFirstRoot("the editor text of the icons written"),

    // Log: log files
    Key(kInSetting, "Log::LogFilePath", kText, "%ServerRoot%Logs/%Year%%Month%%Day%.txt", "the request log"),
    Key(kInSetting, "Log::SystemLogFilePath", kText, "%ServerRoot%Logs/SystemLog.txt", "the system log"),
    Key(kInSetting, "Log::LogFormatNoTime", kText,
        "[%Time%] <%Host%> (%RecvSize%,%SendSize%) [%Info%] %Method% %Object%", "the request log's line"),
    Key(kInSetting, "Log::MaxThreadLog", kNumber, "10", "finished requests kept for the controller")
        .ReadBy(kServerOnly),

    // Pages
    Key(kInSetting, "Html\\HtmlFileDirectory", kText, "%ServerRoot%Html/", "the folder of page templates"),
};

// --- Named keys -------------------------------------------------------------------------------

// Whose value a read takes for a missing key: the server's, or what the controller shows.
enum DefaultOf {
    kServerDefault,
    kControllerDefault,
};

// A number or a switch.
struct NumberKey {
    Scope scope;
    std::string_view path;  // from the scope's node
    std::string_view node;  // the path's levels above the leaf ("Basic"; "" for a leaf of the scope's node)
    std::string_view leaf;  // the path's last level ("Port")
    int serverDefault;
    int controllerDefault;

    int Default(DefaultOf whose) const { return whose == kServerDefault ? serverDefault : controllerDefault; }
    // Through an accessor on the scope's node ("Setting", a path entry).
    int Read(const CConfigAccessor& scope, DefaultOf whose = kServerDefault) const
    {
        return scope.GetInt(path, Default(whose));
    }
    // Through an accessor already on the key's own node ("Setting::Basic", an entry's "Options").
    int ReadIn(const CConfigAccessor& node, DefaultOf whose = kServerDefault) const
    {
        return node.GetInt(leaf, Default(whose));
    }
};

// A text.
struct TextKey {
    Scope scope;
    std::string_view path;
    std::string_view node;
    std::string_view leaf;
    std::string_view serverDefault;
    std::string_view controllerDefault;

    std::string_view Default(DefaultOf whose) const
    {
        return whose == kServerDefault ? serverDefault : controllerDefault;
    }
    std::string Read(const CConfigAccessor& scope, DefaultOf whose = kServerDefault) const
    {
        return scope.GetString(path, Default(whose));
    }
    std::string ReadIn(const CConfigAccessor& node, DefaultOf whose = kServerDefault) const
    {
        return node.GetString(leaf, Default(whose));
    }
};

// A list or a node of entries.
struct NodeKey {
    Scope scope;
    std::string_view path;
    const char* entryNames;
    const char* leafNames;

    // The name the controller gives the entry or leaf at `index`, counted from 0
    // ("Path_0", "CGI_00", "Ext_00"). Only for a node whose table row names them.
    std::string EntryName(int index) const;
    std::string LeafName(int index) const;
};

// The table's row of a key; throws std::logic_error (when compiled: does not compile) when
// the table has none.
constexpr const SettingRow& FindRow(Scope scope, std::string_view path)
{
    for (const SettingRow& row : kTable) {
        if (row.scope == scope && row.path == path)
            return row;
    }
    throw std::logic_error("the settings table has no such key");
}

namespace detail {

constexpr int ParseNumber(std::string_view text)
{
    if (text.empty())
        throw std::logic_error("a number's default is empty");
    const bool negative = text[0] == '-';
    int value = 0;
    for (std::size_t i = negative ? 1 : 0; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw std::logic_error("a number's default is not decimal");
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

constexpr std::size_t LeafStart(std::string_view path)
{
    const std::size_t separator = path.rfind("::");
    return separator == std::string_view::npos ? 0 : separator + 2;
}

constexpr std::string_view NodeOf(std::string_view path)
{
    const std::size_t start = LeafStart(path);
    return path.substr(0, start == 0 ? 0 : start - 2);
}

constexpr bool RowsAreSound()
{
    for (std::size_t i = 0; i < std::size(kTable); ++i) {
        const SettingRow& row = kTable[i];
        for (std::size_t j = i + 1; j < std::size(kTable); ++j) {
            if (kTable[j].scope == row.scope && kTable[j].path == row.path)
                return false;
        }
        if (row.kind == kSwitch && row.defaultValue != "0" && row.defaultValue != "1")
            return false;
        if (row.kind == kNumber || row.kind == kSwitch) {
            ParseNumber(row.defaultValue);
            ParseNumber(row.ControllerDefault());
        }
        if ((row.kind == kList || row.kind == kEntries) && !row.defaultValue.empty())
            return false;
    }
    return true;
}
static_assert(RowsAreSound(), "a path twice in one scope, a switch other than 0 or 1, or a list with a default");

}  // namespace detail

constexpr NumberKey FindNumber(Scope scope, std::string_view path)
{
    const SettingRow& row = FindRow(scope, path);
    if (row.kind != kNumber && row.kind != kSwitch)
        throw std::logic_error("the key is no number");
    return {row.scope,
            row.path,
            detail::NodeOf(row.path),
            row.path.substr(detail::LeafStart(row.path)),
            detail::ParseNumber(row.defaultValue),
            detail::ParseNumber(row.ControllerDefault())};
}

constexpr TextKey FindText(Scope scope, std::string_view path)
{
    const SettingRow& row = FindRow(scope, path);
    if (row.kind != kText)
        throw std::logic_error("the key is no text");
    return {row.scope,        row.path,         detail::NodeOf(row.path), row.path.substr(detail::LeafStart(row.path)),
            row.defaultValue, row.ControllerDefault()};
}

constexpr NodeKey FindNode(Scope scope, std::string_view path)
{
    const SettingRow& row = FindRow(scope, path);
    if (row.kind != kList && row.kind != kEntries)
        throw std::logic_error("the key is no node");
    return {row.scope, row.path, row.entryNames, row.leafNames};
}

// Basic
inline constexpr NumberKey kPort = FindNumber(kInSetting, "Basic::Port");
inline constexpr NumberKey kEnableSsl = FindNumber(kInSetting, "Basic::EnableSSL");
inline constexpr NumberKey kMaxConnect = FindNumber(kInSetting, "Basic::MaxConnect");
inline constexpr NumberKey kMaxOneHostConnect = FindNumber(kInSetting, "Basic::MaxOneHostConnect");
inline constexpr NumberKey kTimeOut = FindNumber(kInSetting, "Basic::TimeOut");
inline constexpr NumberKey kEnableKeepAlive = FindNumber(kInSetting, "Basic::EnableKeepAlive");
inline constexpr NumberKey kKeepAliveTime = FindNumber(kInSetting, "Basic::KeepAliveTime");
inline constexpr NumberKey kMaxKeepAlive = FindNumber(kInSetting, "Basic::MaxKeepAlive");
// Enhance
inline constexpr NumberKey kListenThreadCount = FindNumber(kInSetting, "Enhance::ListenThreadCount");
inline constexpr NumberKey kListenThreadCountSsl = FindNumber(kInSetting, "Enhance::ListenThreadCountSSL");
inline constexpr NumberKey kMaxListenQueue = FindNumber(kInSetting, "Enhance::MaxListenQueue");
// SSL
inline constexpr NumberKey kSslPort = FindNumber(kInSetting, "SSL::Port");
inline constexpr TextKey kSslPrivateKey = FindText(kInSetting, "SSL::PrivateKey");
inline constexpr TextKey kSslCertificate = FindText(kInSetting, "SSL::Certificate");
inline constexpr TextKey kSslPassword = FindText(kInSetting, "SSL::Password");
// Index
inline constexpr NodeKey kIndex = FindNode(kInSetting, "Index");
// Path and the keys of a path entry
inline constexpr NodeKey kPath = FindNode(kInSetting, "Path");
inline constexpr TextKey kInfo = FindText(kInPathEntry, "Info");
inline constexpr TextKey kVirtualHost = FindText(kInPathEntry, "VirtualHost");
inline constexpr TextKey kServerPath = FindText(kInPathEntry, "ServerPath");
inline constexpr TextKey kLocalPath = FindText(kInPathEntry, "LocalPath");
inline constexpr TextKey kForward = FindText(kInPathEntry, "Forward");
inline constexpr NodeKey kUsers = FindNode(kInPathEntry, "Users");
inline constexpr NodeKey kKickAccept = FindNode(kInPathEntry, "Kick::Accept");
inline constexpr NodeKey kKickDenied = FindNode(kInPathEntry, "Kick::Denied");
inline constexpr NumberKey kEnableIndex = FindNumber(kInPathEntry, "Options::EnableIndex");
inline constexpr NumberKey kEnableHiddenFile = FindNumber(kInPathEntry, "Options::EnableHiddenFile");
inline constexpr NumberKey kEnableWrite = FindNumber(kInPathEntry, "Options::EnableWrite");
inline constexpr NumberKey kEnableWebDav = FindNumber(kInPathEntry, "Options::EnableWebDAV");
inline constexpr NumberKey kEnableSsiCgi = FindNumber(kInPathEntry, "Options::EnableSSICGI");
inline constexpr NumberKey kEnableAuthenticate = FindNumber(kInPathEntry, "Options::EnableAuthenticate");
inline constexpr NumberKey kEnableBandWidthLimit = FindNumber(kInPathEntry, "Options::EnableBandWidthLimit");
inline constexpr NumberKey kEnableHostKick = FindNumber(kInPathEntry, "Options::EnableHostKick");
inline constexpr NumberKey kAcceptHttp = FindNumber(kInPathEntry, "Options::AcceptHTTP");
inline constexpr NumberKey kAcceptHttps = FindNumber(kInPathEntry, "Options::AcceptHTTPS");
inline constexpr NumberKey kSelected = FindNumber(kInPathEntry, "Selected");
// The node of a path entry's switches, as their paths name it.
inline constexpr std::string_view kOptions = kEnableIndex.node;
// User and the keys of an account
inline constexpr NodeKey kEnabledUsers = FindNode(kInSetting, "User::Enable");
inline constexpr NodeKey kDisabledUsers = FindNode(kInSetting, "User::Disable");
inline constexpr TextKey kUserName = FindText(kInAccount, "User");
inline constexpr TextKey kUserPassword = FindText(kInAccount, "Passwd");
inline constexpr TextKey kUserComment = FindText(kInAccount, "Comment");
// Limit
inline constexpr NumberKey kSendServerBandWidth = FindNumber(kInSetting, "Limit::Send::MaxServerBandWidth");
inline constexpr NumberKey kSendHostBandWidth = FindNumber(kInSetting, "Limit::Send::MaxOneHostBandWidth");
inline constexpr NumberKey kSendConnectBandWidth = FindNumber(kInSetting, "Limit::Send::MaxOneConnectBandWidth");
inline constexpr NumberKey kRecvServerBandWidth = FindNumber(kInSetting, "Limit::Recv::MaxServerBandWidth");
inline constexpr NumberKey kRecvHostBandWidth = FindNumber(kInSetting, "Limit::Recv::MaxOneHostBandWidth");
inline constexpr NumberKey kRecvConnectBandWidth = FindNumber(kInSetting, "Limit::Recv::MaxOneConnectBandWidth");
// CGI, the keys of a handler, SSI
inline constexpr NodeKey kCgi = FindNode(kInSetting, "CGI");
inline constexpr TextKey kCgiFileExt = FindText(kInCgiHandler, "FileExt");
inline constexpr TextKey kCgiCommand = FindText(kInCgiHandler, "Command");
inline constexpr TextKey kCgiFileHeader = FindText(kInCgiHandler, "FileHeader");
inline constexpr NumberKey kCgiExecuteFile = FindNumber(kInCgiHandler, "ExecuteFile");
inline constexpr NodeKey kSsi = FindNode(kInSetting, "SSI");
inline constexpr NumberKey kEnableGetHostName = FindNumber(kInSetting, "CGIEnvironment::EnableGetHostName");
// MimeType and IconType
inline constexpr NodeKey kMimeType = FindNode(kInSetting, "MimeType");
inline constexpr TextKey kMimeTypeText = FindText(kInSetting, "MimeType::Text");
inline constexpr NodeKey kIconType = FindNode(kInSetting, "IconType");
inline constexpr TextKey kIconTypeText = FindText(kInSetting, "IconType::Text");
// Log
inline constexpr TextKey kLogFilePath = FindText(kInSetting, "Log::LogFilePath");
inline constexpr TextKey kSystemLogFilePath = FindText(kInSetting, "Log::SystemLogFilePath");
inline constexpr TextKey kLogFormat = FindText(kInSetting, "Log::LogFormatNoTime");
inline constexpr NumberKey kMaxThreadLog = FindNumber(kInSetting, "Log::MaxThreadLog");
// Pages
inline constexpr TextKey kHtmlFileDirectory = FindText(kInSetting, "Html\\HtmlFileDirectory");

}  // namespace schema

#pragma once
// An answer the server decides without serving content (a redirect, 304, 401, 403, 404 and
// the like): a status code and an HTML page saying why. The page comes from the HTML
// directory's "Response_<code>.html", else its "Response_default.html", else the status page
// built into the program; it is read anew on every Build, so a changed template takes
// effect with the next answer.
//
// Made by a check, the request driver, or a response that names it as its replacement; the
// request driver sends and deletes it.

#include "http/HtmlTemplate.h"
#include "http/Response.h"

#include <string>

// Reasons and details that several checks and responses give, as the pages show them.
inline constexpr char kNoDetail[] = "詳細情報はありません。";
inline constexpr char kFileNotFound[] = "指定されたファイルは存在しません";
inline constexpr char kFolderNotFound[] = "指定されたディレクトリは存在しません";
inline constexpr char kNotAllowed[] = "対応していないメソッドです";
inline constexpr char kMalformedUrl[] = "異常なURLを受信しました";
inline constexpr char kBodyTooLarge[] = "リクエストの本文が大きすぎます";
inline constexpr char kAccessRefused[] = "このファイル・ディレクトリへのアクセスは、許可されていません";
inline constexpr char kEntryFolder[] = "パス設定のフォルダーは削除または移動できません";
inline constexpr char kAlreadyExists[] = "同じ名前のファイルまたはディレクトリが既に存在します";
inline constexpr char kFileFailed[] = "ファイルの操作に失敗しました、システムエラーです";
inline constexpr char kDirectoryFailed[] = "ディレクトリの操作に失敗しました、システムエラーです";
inline constexpr char kNoSpace[] = "サーバーの記憶領域が不足しています";
inline constexpr char kEmptyPage[] = "HTMLデータのロードに失敗しました、システムエラーです";

class CSystemResponse : public CResponse {
public:
    // `info` is the one-line reason (also the request's progress text), `detail` the longer
    // explanation; both are plain text, shown escaped. `core` and `record` as for CResponse.
    CSystemResponse(CServerCore* core, CRequestRecord& record, const std::string& info, int code,
                    const std::string& detail);
    ~CSystemResponse() override;

    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    // Sets the status and fills the page: Info, Detail, then the leaves of the thread,
    // ServerInfo, RequestInfo and ResponseInfo views. A placeholder for a value the server
    // fills but this request lacks is left empty; any other "%...%" of the template stays as
    // written. Throws CServerFatalException when not even the built-in page can be loaded.
    void Build() override;
    // 0 for 304 (RFC 9110 15.4.5: no content); else the page length.
    int64_t GetContentLength() override;
    // The whole page once, then 0; nothing for 304. Throws CServerFatalException when the
    // page is empty.
    int GetSendData(CByteBuffer& buffer) override;

    std::string GetInfo() const { return info_; }
    const CSystemResponse* AsStatusPage() const override { return this; }

private:
    bool IsNotModified() const;

    std::string info_;
    std::string detail_;
    int code_;
    CHtmlTemplate page_;
    int sent_ = 0;
};

// Fills a page's placeholders from the leaves of the request's node, as they stand: the
// thread node's, ServerInfo's, RequestInfo's and ResponseInfo's, in that order, each value
// HTML-escaped (CHtmlTemplate::ExpandLeaf).
void ExpandRequestPlaceholders(CHtmlTemplate& page, CServerCore* core, const CRequestRecord& record);

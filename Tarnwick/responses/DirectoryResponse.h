#pragma once
// The index page of a folder that has no index document: the parent folder, the
// subfolders, the path entries just below the requested URL and the files, one
// preformatted line each, optionally sorted by the query word "name", "modified" or
// "size". The page comes from a "DirectoryList.html" in the listed folder, else from the
// one in the HTML directory, else from the page built into the program; either file is
// found whatever the case of its name, and neither is ever listed.
//
// Every name and request value on the page is HTML-escaped; link targets are
// percent-escaped (EscapeUrl) first, so any file name, markup characters included, shows
// as itself and its link leads back to it.
//
// Answers decided early are status pages named as its replacement (TakeReplacement).
// Failures to load any page throw CServerFatalException.

#include "core/MimeMaps.h"
#include "http/HtmlTemplate.h"
#include "http/NormalResponse.h"

#include <cstdint>
#include <string>
#include <vector>

class CByteBuffer;

class CDirectoryResponse : public CNormalResponse {
public:
    // The order a listing is sorted in, from the request's query.
    enum SortKind { kUnsorted = -1, kByName = 0, kByModified = 1, kBySize = 2 };

    // One line of a listing. Every record of one listing carries the same kind.
    struct ListingRecord {
        int kind = kUnsorted;
        std::string name;      // CP932; a path entry's last URL segment
        int64_t modified = 0;  // last write, seconds since 1970 UTC; 0 for path entries
        int64_t size = 0;      // 0 for folders and path entries
    };

    // `core` is not owned; it, `record` (the request's) and `path` outlive the response.
    // Names a status page as its replacement, checked in this order: 403 when the path
    // entry's option EnableIndex is 0; 404 when the folder does not exist or the path has
    // no local path; 405 when the method is not exactly "GET" (HEAD included).
    CDirectoryResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path);
    ~CDirectoryResponse() override;

    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    // Sets 200 and builds the page. Throws CServerFatalException when no template can be
    // loaded.
    void Build() override;
    // The page's length in bytes; 0 before Build.
    int64_t GetContentLength() override;
    // The whole page once, then 0. Throws CServerFatalException when the page is empty.
    int GetSendData(CByteBuffer& buffer) override;

    // The listing steps. Each empties `records` first, fills it with `kind` in every
    // record, and sorts it unless kind is kUnsorted. Hidden entries (names starting with
    // '.') are left out unless the path entry's option EnableHiddenFile is set.
    // The folder's subfolders, in the order the file system returns them (links followed).
    void CollectSubdirectories(std::vector<ListingRecord>& records, int kind);
    // Everything in the folder that is not a folder, with its size.
    void CollectFiles(std::vector<ListingRecord>& records, int kind);
    // The path entries (of any virtual host) whose URL prefix lies one level below the
    // requested object, compared without regard to case.
    void CollectPathEntries(std::vector<ListingRecord>& records, int kind);
    // Stable ascending sort by the records' kind: by name (byte-wise, case-sensitive,
    // Shift-JIS aware), by modified time or by size. Unsorted records stay as they are.
    static void SortListing(std::vector<ListingRecord>& records);

    // The template's file name; a file of this name in any case is never listed.
    static constexpr const char* kTemplateName = "DirectoryList.html";

private:
    // One pass over the folder fills the subfolders into `directories` and everything else
    // into `files`, each list when not null (emptied first, then sorted by `kind`).
    void CollectEntries(std::vector<ListingRecord>* directories, std::vector<ListingRecord>* files, int kind);
    // The listing lines of the page, for the sort kind taken from the query. The names of
    // the folder's files that spell the template's name, left out of the listing, are added
    // to `templateSpellings`. Icons are looked up in `maps` through `icons`, in page order.
    std::string BuildListing(const CMimeMaps& maps, CMimeMaps::IconCache& icons,
                             std::vector<std::string>& templateSpellings);
    // The template from the listed folder (its exact name, else `folderSpellings`), the
    // HTML directory or the program.
    void LoadPage(const std::vector<std::string>& folderSpellings);

    CHtmlTemplate page_;
    int sent_ = 0;
};

#pragma once
// The MIME type of a file name (for Content-Type and WebDAV) and the icon of a directory
// index entry, from the Setting::MimeType and Setting::IconType tables. The core keeps one
// loaded instance, which nobody changes, and shares it. LookupMimeType and LookupIconType
// may reorder the table and keep a one-entry icon cache, so they run on a private copy,
// which belongs to one thread; FindMimeType and FindIconType are the same answers without
// either (the icon cache is the caller's), for any thread on the shared instance.

#include "ConfigAccessor.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class CMimeMaps {
public:
    CMimeMaps() = default;
    virtual ~CMimeMaps() = default;

    using Table = std::vector<std::pair<std::string, std::string>>;

    // The one-entry icon cache of the lookups that share it (one index page): the last
    // extension an icon was found for, and that icon. A new one answers nothing.
    struct IconCache {
        std::string extension;
        std::string icon;
    };

    // Reads both tables through `settings` (an accessor on "Setting", kept for later
    // LoadMimeTypes and LoadIconTypes calls); a table already loaded is not read again.
    // Each child node of MimeType (IconType) is a type (icon) name, each of its leaf values
    // an extension without dot (a filter); leaves directly under MimeType and IconType are
    // not read.
    void Load(const CConfigAccessor& settings);
    // Each fills its table when it is empty; nothing happens before Load.
    void LoadMimeTypes();
    void LoadIconTypes();

    // The type for the text after the name's last '.', lower-cased and matched exactly
    // against the stored extensions, or "application/octet-stream". A hit beyond the
    // first six pairs moves that pair to the front of this copy's table.
    std::string LookupMimeType(const std::string& name);
    // The type LookupMimeType gives for the name, with the table left as it is: the
    // reordering changes only which pair is found first for other extensions, never what.
    std::string FindMimeType(const std::string& name) const;
    // The icon of the first pair whose filter equals the name's extension (with its dot,
    // lower-cased), or matches the name's MIME type or the whole name as a wildcard
    // pattern without regard to case; "" when none does. The last answer is cached by
    // extension, so a later name with that extension gets the same icon from this copy.
    std::string LookupIconType(const std::string& name);
    // The icon LookupIconType gives for the name with `cache` in place of this copy's own,
    // the table left as it is.
    std::string FindIconType(const std::string& name, IconCache& cache) const;

    // The tables in their current order: {extension, type} and {filter, icon}.
    const Table& GetMimeTable() const { return mimeTable_; }
    const Table& GetIconTable() const { return iconTable_; }

private:
    // The position of the pair for the name's extension; mimeTable_.size() when none.
    std::size_t FindMimePair(const std::string& name) const;
    // The same for an extension already lower-cased, without its dot.
    std::size_t FindExtensionPair(const std::string& extension) const;

    IconCache iconCache_;
    CConfigAccessor settings_;
    CConfigAccessor mimeView_;
    CConfigAccessor iconView_;
    Table mimeTable_;  // {extension, type}, in load order until lookups reorder it
    Table iconTable_;  // {filter, icon}, in load order
};

#pragma once
// The MIME type and file icon tables as the user edits them: free text, one entry per line,
// "name token token ...", which becomes the settings node the server reads (a child per
// MIME type or icon, a leaf per extension or file-name filter) and is also kept whole, as
// the node's Text leaf, for the next edit. Texts are CP932.

#include "ConfigAccessor.h"
#include "SettingsSchema.h"

#include <string>
#include <vector>

// Where one table lives under the "Setting" node and how its leaves are keyed.
struct TypeTableKeys {
    const schema::NodeKey& node;  // the node the server reads, which names its leaves
    const schema::TextKey& text;  // the whole text, relative to "Setting"
};

// MimeType: "text/html html htm" gives MimeType::text/html::Ext_00 = html, Ext_01 = htm.
extern const TypeTableKeys kMimeTypeTable;
// IconType: "/icons/text.gif .txt *.log" gives IconType::/icons/text.gif::Filter_00 = .txt ...
extern const TypeTableKeys kIconTypeTable;

// Every line end (CR LF, CR or LF) as CR LF.
std::string ToCrLfLineEnds(const std::string& text);

// Takes the first line off `text`: what stands before the first CR LF, which goes too, or,
// without one, the whole text. False, with `line` untouched, when `text` is empty.
bool NextTableLine(std::string& text, std::string& line);

// The tokens of a line: blanks, tabs and ',' all separate, runs of them count as one, and
// white space at both ends is ignored. `tokens` is replaced; the result is its size.
int SplitTableTokens(const std::string& line, std::vector<std::string>& tokens);

// Adds to `node` the entries of a table text with CR LF line ends. A line that is empty
// once trimmed, or begins with '#' or "//", is skipped, and so is one of a single token.
// A name on several lines keeps the leaves of all of them, numbered on from the leaves it
// already has.
void BuildTypeTable(const std::string& text, const TypeTableKeys& keys, const CConfigAccessor& node);

// The lines a table node stands for, each ended by CR LF: a child's name, then its leaf
// values, separated by blanks, in stored order. Empty values are left out, and a child
// with none left gives no line, as BuildTypeTable would drop it.
std::string DescribeTypeTable(const CConfigAccessor& node);

// The text to edit, with CR LF line ends: the stored Text leaf, or, for a table that has
// none (as a settings file written by hand or by another tool), the lines its node stands
// for, so that storing the text unchanged keeps every entry. Creates no node.
std::string LoadTypeTableText(const CConfigAccessor& setting, const TypeTableKeys& keys);

// Replaces the table under `setting` with the one built from `text` and keeps `text`, with
// CR LF line ends, as its Text leaf, in one locked step of the tree.
void StoreTypeTable(const CConfigAccessor& setting, const TypeTableKeys& keys, const std::string& text);

// The settings table against docs/settings.md, the users' reference to the settings file:
// its tables name every key of the table, with the default the programs take, the
// controller's own value where it shows another, and what a first root holds; and they
// name no key the table lacks. Also the names the controller gives numbered entries.

#include "SettingsSchema.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using schema::SettingRow;

const std::string kDocument = std::string(TW_DOCS_DIR) + "/settings.md";

// What a document's table says of one key.
struct DocumentedKey {
    schema::Scope scope;
    std::string path;
    std::string value;  // as the cell shows it: "`80`", "``", "(empty list)"
    std::string note;   // the third cell: the meaning, or why a program departs from it
    int line;
};

// The first root's path entry, as the document spells its keys.
std::string FirstEntryPrefix()
{
    return std::string(schema::kPath.path) + "::" + schema::kPath.EntryName(0) + "::";
}

// The tables of the document, by what their second column holds.
struct DocumentTables {
    std::vector<DocumentedKey> defaults;    // "Default"
    std::vector<DocumentedKey> controller;  // "The controller shows"
    std::vector<DocumentedKey> firstRoot;   // "tarnwick-make-root writes"
};

std::vector<std::string> Cells(const std::string& line)
{
    std::vector<std::string> cells;
    std::string::size_type start = line.find('|') + 1;
    for (std::string::size_type end = line.find('|', start); end != std::string::npos;
         start = end + 1, end = line.find('|', start)) {
        std::string cell = line.substr(start, end - start);
        cell.erase(0, cell.find_first_not_of(' '));
        cell.erase(cell.find_last_not_of(' ') + 1);
        cells.push_back(cell);
    }
    return cells;
}

// "`Info` (in the entry)" -> Info in a path entry; "`Basic::Port`" -> Basic::Port.
bool ParseKeyCell(const std::string& cell, schema::Scope tableScope, schema::Scope& scope, std::string& path)
{
    if (cell.size() < 2 || cell[0] != '`')
        return false;
    const std::string::size_type close = cell.find('`', 1);
    if (close == std::string::npos)
        return false;
    path = cell.substr(1, close - 1);
    const std::string rest = cell.substr(close + 1);
    if (rest.empty())
        scope = tableScope;
    else if (rest == " (in the entry)")
        scope = schema::kInPathEntry;
    else
        return false;
    return true;
}

DocumentTables ReadDocument()
{
    const std::map<std::string, schema::Scope> defaultHeaders = {
        {"Key", schema::kInSetting},
        {"Key (in the entry)", schema::kInPathEntry},
        {"Key (in the handler)", schema::kInCgiHandler},
        {"Key (in the account)", schema::kInAccount},
    };
    DocumentTables tables;
    std::ifstream file(kDocument);
    EXPECT_TRUE(file) << kDocument;
    std::vector<DocumentedKey>* table = nullptr;
    schema::Scope tableScope = schema::kInSetting;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (line.rfind("|", 0) != 0) {
            table = nullptr;
            continue;
        }
        const std::vector<std::string> cells = Cells(line);
        if (table == nullptr) {  // a header
            if (cells.size() < 2 || defaultHeaders.count(cells[0]) == 0)
                continue;
            tableScope = defaultHeaders.at(cells[0]);
            if (cells[1] == "Default")
                table = &tables.defaults;
            else if (cells[1] == "The controller shows")
                table = &tables.controller;
            else if (cells[1] == "tarnwick-make-root writes")
                table = &tables.firstRoot;
            continue;
        }
        if (cells.size() < 2 || cells[0].rfind("---", 0) == 0)
            continue;
        DocumentedKey key{};
        if (!ParseKeyCell(cells[0], tableScope, key.scope, key.path)) {
            ADD_FAILURE() << kDocument << ":" << number << ": no key in " << line;
            continue;
        }
        if (table == &tables.firstRoot && key.path.rfind(FirstEntryPrefix(), 0) == 0) {
            key.scope = schema::kInPathEntry;
            key.path.erase(0, FirstEntryPrefix().size());
        }
        key.value = cells[1];
        key.note = cells.size() > 2 ? cells[2] : "";
        key.line = number;
        table->push_back(key);
    }
    return tables;
}

std::string AsDocumentCell(schema::Kind kind, std::string_view value)
{
    if (kind == schema::kList && value.empty())
        return "(empty list)";
    if (kind == schema::kEntries && value.empty())
        return "(no entries)";
    return "`" + std::string(value) + "`";
}

// Whether every row that `listed` picks appears in `keys` with the value `value` gives, and
// no other key does.
template <typename Listed, typename Value>
void ExpectSameKeys(const std::vector<DocumentedKey>& keys, Listed listed, Value value)
{
    for (const SettingRow& row : schema::kTable) {
        if (!listed(row))
            continue;
        int found = 0;
        for (const DocumentedKey& key : keys) {
            if (key.scope == row.scope && key.path == row.path) {
                ++found;
                EXPECT_EQ(key.value, value(row)) << kDocument << ":" << key.line << ": " << row.path;
            }
        }
        EXPECT_EQ(found, 1) << row.path << " is listed " << found << " times";
    }
    for (const DocumentedKey& key : keys) {
        bool known = false;
        for (const SettingRow& row : schema::kTable)
            known = known || (key.scope == row.scope && key.path == row.path && listed(row));
        EXPECT_TRUE(known) << kDocument << ":" << key.line << ": " << key.path << " is not in the table";
    }
}

class SettingsSchemaTest : public testing::Test {
protected:
    DocumentTables document_ = ReadDocument();
};

TEST_F(SettingsSchemaTest, TheDocumentListsEveryKeyWithItsDefault)
{
    ExpectSameKeys(
        document_.defaults, [](const SettingRow&) { return true; },
        [](const SettingRow& row) { return AsDocumentCell(row.kind, row.defaultValue); });
}

TEST_F(SettingsSchemaTest, TheDocumentSaysWhichKeysOnlyTheControllerReads)
{
    const std::string mark = "Not read by the server";
    for (const SettingRow& row : schema::kTable) {
        for (const DocumentedKey& key : document_.defaults) {
            if (key.scope == row.scope && key.path == row.path) {
                EXPECT_EQ(key.note.rfind(mark, 0) == 0, row.readers == schema::kControllerOnly)
                    << kDocument << ":" << key.line << ": " << row.path;
            }
        }
    }
}

TEST_F(SettingsSchemaTest, TheDocumentListsWhatTheControllerShowsInstead)
{
    ExpectSameKeys(
        document_.controller, [](const SettingRow& row) { return row.controllerDiffers; },
        [](const SettingRow& row) { return AsDocumentCell(row.kind, row.controllerDefault); });
}

TEST_F(SettingsSchemaTest, TheDocumentListsWhatAFirstRootHolds)
{
    ExpectSameKeys(
        document_.firstRoot, [](const SettingRow& row) { return row.firstRoot == schema::kWritten; },
        [](const SettingRow& row) { return AsDocumentCell(schema::kText, row.firstRootValue); });
}

TEST(SettingsSchemaNames, NumberedEntriesAndLeavesAreNamedAsTheControllerWritesThem)
{
    const struct {
        const char* description;
        std::string name;
        const char* expected;
    } cases[] = {
        {"first path entry", schema::kPath.EntryName(0), "Path_0"},
        {"path entries are not padded", schema::kPath.EntryName(12), "Path_12"},
        {"first CGI handler", schema::kCgi.EntryName(0), "CGI_00"},
        {"last two-digit CGI handler", schema::kCgi.EntryName(99), "CGI_99"},
        {"CGI handlers go on with three digits", schema::kCgi.EntryName(100), "CGI_100"},
        {"an extension of a MIME type", schema::kMimeType.LeafName(9), "Ext_09"},
        {"a filter of an icon", schema::kIconType.LeafName(10), "Filter_10"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.name, c.expected) << c.description;
}

TEST(SettingsSchemaNames, ANodeWhoseEntriesAreNamedByThemselvesHasNoNumberedName)
{
    EXPECT_THROW(schema::kEnabledUsers.EntryName(0), std::logic_error);
    EXPECT_THROW(schema::kIndex.LeafName(0), std::logic_error);
}

}  // namespace

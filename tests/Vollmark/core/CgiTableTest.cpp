// The CGI page's list and the handler nodes it stands for: the rows a node reads as, the
// children a list stores, and what a row says of its handler.

#include "core/CgiTable.h"

#include "SettingTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ReadFromSetting;
using testsupport::SettingLeaves;
using testsupport::StoreIntoSetting;
using Strings = std::vector<std::string>;

const std::string kMarker = kCgiExecutableMarker;

TEST(CgiTableTest, HandlersAreReadInStoredOrderWithTheMarkerForPrograms)
{
    const struct {
        const char* description;
        SettingLeaves stored;
        Strings rows;  // key|header|command|number
    } cases[] = {
        {"no node gives no row", {}, {}},
        {"a script handler",
         {{"CGI::CGI_00::FileExt", "pl"},
          {"CGI::CGI_00::FileHeader", "perl"},
          {"CGI::CGI_00::Command", "/usr/bin/perl %FilePath%"},
          {"CGI::CGI_00::ExecuteFile", "0"}},
         {"pl|perl|/usr/bin/perl %FilePath%|0"}},
        {"a program shows the marker whatever header is stored",
         {{"CGI::CGI_00::FileExt", "cgi"},
          {"CGI::CGI_00::FileHeader", "#!"},
          {"CGI::CGI_00::Command", "%FilePath%"},
          {"CGI::CGI_00::ExecuteFile", "1"}},
         {"cgi|" + kMarker + "|%FilePath%|1"}},
        {"any flag but 0 is a program, kept as stored",
         {{"CGI::CGI_00::FileExt", "exe"}, {"CGI::CGI_00::ExecuteFile", "2"}},
         {"exe|" + kMarker + "||2"}},
        {"stored order, not name order",
         {{"CGI::CGI_01::FileExt", "b"}, {"CGI::CGI_00::FileExt", "a"}},
         {"b|||0", "a|||0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Strings rows = ReadFromSetting(c.stored, [](const CConfigAccessor& setting) {
            Strings shown;
            for (const CReportRow& row : ReadCgiRows(setting))
                shown.push_back(row.key + "|" + TextAt(row.columns, 0) + "|" + TextAt(row.columns, 1) + "|" +
                                std::to_string(row.number));
            return shown;
        });
        EXPECT_EQ(rows, c.rows);
    }
}

// The contents of Setting::CGI after the handlers were stored over an old one.
std::string Stored(const std::vector<CgiHandler>& handlers)
{
    CReportRowArray rows;
    for (const CgiHandler& handler : handlers)
        rows.SetRow(CgiRow(handler), false);
    return StoreIntoSetting({{"CGI::CGI_05::FileExt", "old"}}, "CGI",
                            [&](const CConfigAccessor& setting) { StoreCgiRows(setting, rows); });
}

TEST(CgiTableTest, RowsReplaceTheHandlersAsNumberedChildrenInListOrder)
{
    const struct {
        const char* description;
        std::vector<CgiHandler> handlers;
        std::string stored;  // Setting::CGI afterwards
    } cases[] = {
        {"a script, then a program, whose header is the marker",
         {{"pl", "perl", "perl %FilePath%", 0}, {"cgi", "ignored", "%FilePath%", 1}},
         "Tarnwick{CGI_00{FileExt=pl;FileHeader=perl;Command=perl %FilePath%;ExecuteFile=0;}CGI_01{FileExt=cgi;" +
             ("FileHeader=" + kMarker) + ";Command=%FilePath%;ExecuteFile=1;}}"},
        {"no rows: the old handlers go", {}, "Tarnwick{}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Stored(c.handlers), c.stored) << c.description;
}

TEST(CgiTableTest, ChildNumbersHaveTwoDigitsAtLeast)
{
    std::vector<CgiHandler> handlers;
    for (int i = 0; i <= 100; ++i)
        handlers.push_back({"e" + std::to_string(i), "", "", 0});
    const std::string stored = Stored(handlers);
    const char* children[] = {"CGI_00{FileExt=e0;", "CGI_09{FileExt=e9;", "CGI_10{FileExt=e10;", "CGI_99{FileExt=e99;",
                              "CGI_100{FileExt=e100;"};
    for (const char* child : children)
        EXPECT_NE(stored.find(child), std::string::npos) << child;
}

TEST(CgiTableTest, ARowGivesBackTheHandlerItShows)
{
    const struct {
        const char* description;
        CReportRow row;
        Strings shown;  // ext, header, command, executable
    } cases[] = {
        {"a script keeps its header",
         CgiRow({"pl", "perl", "perl %FilePath%", 0}),
         {"pl", "perl", "perl %FilePath%", "0"}},
        {"a program's header is the marker",
         CgiRow({"cgi", "#!", "%FilePath%", 1}),
         {"cgi", kMarker, "%FilePath%", "1"}},
        {"missing columns read as empty", CReportRow{0, "x", {}, {}, 0}, {"x", "", "", "0"}},
    };
    for (const auto& c : cases) {
        const CgiHandler handler = CgiHandlerOfRow(c.row);
        EXPECT_EQ((Strings{handler.ext, handler.header, handler.command, std::to_string(handler.executable)}), c.shown)
            << c.description;
    }
}

}  // namespace

#pragma once
// The CGI handlers as the CGI page lists them. They live under "Setting::CGI" as children
// CGI_00, CGI_01 ... in the order the server tries them, each with the leaves FileExt,
// FileHeader, Command and ExecuteFile. In the list a handler is a row whose key is the
// extension, whose columns are the header and the command, and whose number is the
// executable flag. Texts are CP932.

#include "core/ReportRow.h"

#include "ConfigAccessor.h"

#include <string>
#include <vector>

// Shown in the header column, and stored as the header, for a handler whose files are
// programs themselves.
extern const char kCgiExecutableMarker[];

struct CgiHandler {
    std::string ext;
    std::string header;
    std::string command;
    int executable = 0;  // as stored: anything but 0 runs the files themselves
};

// The handler's row; an executable handler's header column is kCgiExecutableMarker, which
// is what is stored for it.
CReportRow CgiRow(const CgiHandler& handler);
// What the row holds, as CgiRow made it; missing columns read as "".
CgiHandler CgiHandlerOfRow(const CReportRow& row);

// The rows of the handlers under `setting` (a "Setting" node), in stored order. Creates no
// node.
std::vector<CReportRow> ReadCgiRows(const CConfigAccessor& setting);

// Replaces the handlers with one child per row, CGI_00, CGI_01 ... in row order, as one
// step of the tree; with no row the node is gone.
void StoreCgiRows(const CConfigAccessor& setting, const CReportRowArray& rows);

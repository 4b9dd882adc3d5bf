#include "core/CgiTable.h"

#include "core/EntryNodes.h"

#include "SettingsSchema.h"

const char kCgiExecutableMarker[] = "- 実行ファイル -";

CReportRow CgiRow(const CgiHandler& handler)
{
    const std::string header = handler.executable != 0 ? kCgiExecutableMarker : handler.header;
    return CReportRow{0, handler.ext, {header, handler.command}, {}, handler.executable};
}

CgiHandler CgiHandlerOfRow(const CReportRow& row)
{
    return CgiHandler{row.key, TextAt(row.columns, 0), TextAt(row.columns, 1), row.number};
}

std::vector<CReportRow> ReadCgiRows(const CConfigAccessor& setting)
{
    return ReadEntries(setting.GetSubAccessor(schema::kCgi.path), [](const CConfigAccessor& handler) {
        return CgiRow({schema::kCgiFileExt.Read(handler, schema::kControllerDefault),
                       schema::kCgiFileHeader.Read(handler, schema::kControllerDefault),
                       schema::kCgiCommand.Read(handler, schema::kControllerDefault),
                       schema::kCgiExecuteFile.Read(handler, schema::kControllerDefault)});
    });
}

void StoreCgiRows(const CConfigAccessor& setting, const CReportRowArray& rows)
{
    CConfigLock lock(setting);
    setting.RemoveSection(schema::kCgi.path);
    const CConfigAccessor cgi = setting.GetSubAccessor(schema::kCgi.path);
    for (int i = 0; i < rows.GetSize(); ++i) {
        const CgiHandler handler = CgiHandlerOfRow(rows.GetAt(i));
        const CConfigAccessor child = cgi.GetSubAccessor(schema::kCgi.EntryName(i));
        child.SetString(schema::kCgiFileExt.path, handler.ext);
        child.SetString(schema::kCgiFileHeader.path, handler.header);
        child.SetString(schema::kCgiCommand.path, handler.command);
        child.SetInt(schema::kCgiExecuteFile.path, handler.executable);
    }
}

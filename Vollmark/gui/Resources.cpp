#include "gui/Resources.h"

#include <QImageReader>
#include <QString>

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
    int id;
    const char* path;
};

// Sorted by number, so that the lists of numbers come out in order.
constexpr Entry kIcons[] = {
    {kIconProgram, ":/icons/Vollmark.svg"},
    {kIconSectionArrow, ":/icons/131-section-arrow.svg"},
    {kIconCgi, ":/icons/132-cgi.svg"},
    {kIconDirectory, ":/icons/133-folder.svg"},
    {kIconServerSettings, ":/icons/134-gear.svg"},
    {kIconServerInfo, ":/icons/137-server-info.svg"},
    {kIconConnectionInfo, ":/icons/139-connection-info.svg"},
    {kIconDelete, ":/icons/140-delete.svg"},
    {kIconNew, ":/icons/141-new.svg"},
    {kIconUsers, ":/icons/145-users.svg"},
    {kIconUser, ":/icons/148-user.svg"},
    {kIconBandwidth, ":/icons/149-bandwidth.svg"},
    {kIconHtmlPage, ":/icons/150-html-page.svg"},
    {kIconMimeTypes, ":/icons/151-mime-types.svg"},
    {kIconFileIcons, ":/icons/152-file-icons.svg"},
    {kIconRequestDone, ":/icons/160-request-done.svg"},
    {kIconRequestActive, ":/icons/162-request-active.svg"},
    {kIconTrayIdle, ":/icons/163-tray-idle.svg"},
    {kIconTrayActive, ":/icons/164-tray-active.svg"},
    {kIconHostAccept, ":/icons/175-host-accept.svg"},
    {kIconHostDeny, ":/icons/200-host-deny.svg"},
};

constexpr Entry kBitmaps[] = {
    {kBitmapSectionStrip, ":/bitmaps/130-section-strip.svg"},
    {kBitmapAboutServer, ":/bitmaps/about-server.svg"},
    {kBitmapAboutController, ":/bitmaps/about-controller.svg"},
};

template <std::size_t N>
const char* FindPath(const Entry (&table)[N], int id)
{
    const auto found = std::find_if(std::begin(table), std::end(table), [id](const Entry& e) { return e.id == id; });
    return found == std::end(table) ? nullptr : found->path;
}

template <std::size_t N>
std::vector<int> IdsOf(const Entry (&table)[N])
{
    std::vector<int> ids;
    for (const Entry& e : table)
        ids.push_back(e.id);
    return ids;
}

}  // namespace

const std::vector<int>& IconResourceIds()
{
    static const std::vector<int> ids = IdsOf(kIcons);
    return ids;
}

const std::vector<int>& BitmapResourceIds()
{
    static const std::vector<int> ids = IdsOf(kBitmaps);
    return ids;
}

QIcon LoadIconResource(int id)
{
    const char* path = FindPath(kIcons, id);
    return path ? QIcon(QString::fromLatin1(path)) : QIcon();
}

QPixmap LoadBitmapResource(int id, QSize size)
{
    const char* path = FindPath(kBitmaps, id);
    if (!path || size.isEmpty())
        return QPixmap();
    // Read through the image reader rather than QIcon: an icon keeps the picture's
    // proportions and may hand back a smaller pixmap, where a bitmap slot wants its exact size.
    QImageReader reader(QString::fromLatin1(path));
    reader.setScaledSize(size);
    return QPixmap::fromImage(reader.read());
}

QIcon LoadToolbarIcon(ToolbarPicture picture)
{
    switch (picture) {
    case ToolbarPicture::Restart:
        return QIcon(QStringLiteral(":/toolbar/restart.svg"));
    case ToolbarPicture::Copy:
        return QIcon(QStringLiteral(":/toolbar/copy.svg"));
    case ToolbarPicture::About:
        return QIcon(QStringLiteral(":/toolbar/about.svg"));
    }
    return QIcon();
}

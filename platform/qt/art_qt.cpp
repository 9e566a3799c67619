#include "platform/qt/art_qt.h"

namespace trayvo {
namespace {

QString resourcePath(Art art)
{
    switch (art) {
    case Art::ProgramIcon: return QStringLiteral(":/art/program-icon.png");
    case Art::FolderPicture: return QStringLiteral(":/art/folder.png");
    case Art::HandCursor: return QStringLiteral(":/art/hand-cursor.png");
    case Art::AboutIcon: return QStringLiteral(":/art/about-icon.png");
    case Art::DvdPicture: return QStringLiteral(":/art/dvd-drive.png");
    case Art::None: break;
    }
    return {};
}

} // namespace

QPixmap artPixmap(Art art)
{
    return QPixmap(resourcePath(art));
}

QIcon artIcon(Art art)
{
    return QIcon(artPixmap(art));
}

QCursor artCursor(Art art)
{
    // The hand's fingertip is the pointer's hot spot.
    constexpr int hotX = 6;
    constexpr int hotY = 0;
    return QCursor(artPixmap(art), art == Art::HandCursor ? hotX : -1, art == Art::HandCursor ? hotY : -1);
}

} // namespace trayvo

#pragma once

#include <QString>

// The program's name and version, taken from the build (project version 1.5.0.10).
namespace ProgramInfo {

constexpr int Major = POSTOWL_VERSION_MAJOR;
constexpr int Minor = POSTOWL_VERSION_MINOR;
constexpr int Patch = POSTOWL_VERSION_PATCH;
constexpr int Revision = POSTOWL_VERSION_REVISION;

// "PostOwl": the exit question's title.
inline QString applicationTitle()
{
    return QStringLiteral("PostOwl");
}

// "PostOwl 1.5": the first window title, the title of message boxes, the
// status line after start-up.
inline QString title()
{
    return QStringLiteral("PostOwl %1.%2").arg(Major).arg(Minor);
}

// The AppStream component id, which also names the menu entry
// (example.postowl.PostOwl.desktop), so a Wayland desktop can match the window to it.
inline QString componentId()
{
    return QStringLiteral("example.postowl.PostOwl");
}

// "1.5.0.10": the build's whole version, as "postowl --version" prints it.
inline QString version()
{
    return QStringLiteral("%1.%2.%3.%4").arg(Major).arg(Minor).arg(Patch).arg(Revision);
}

} // namespace ProgramInfo

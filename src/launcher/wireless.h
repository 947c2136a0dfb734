#pragma once

#include "common/apppaths.h"

#include <QString>
#include <QUrl>

namespace tarv {

// The remote PC's address: the first line of db/ip.txt, without blanks around it; empty (with the
// reason in *error) when the file is missing or its first line is empty.
QString readRemoteAddress(const AppPaths& paths, QString* error);

// "http://" + address + "/db/musiclist.txt".
QUrl remoteSongListUrl(const QString& address);

// Fetches the remote PC's song list and replaces db/musiclist.txt with exactly the bytes received,
// atomically. Waits for the answer (at most timeoutMs) while the event loop runs. On any failure
// (unreachable, an HTTP error, a time-out, an empty answer) the local list is left as it was and
// the reason is returned; an empty text means success.
QString downloadSongList(const AppPaths& paths, const QString& address, int timeoutMs = 15000);

} // namespace tarv

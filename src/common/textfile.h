#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tarv {

// Reads a whole file; nullopt (and the reason in *error) when it cannot be read.
std::optional<QByteArray> readFileBytes(const QString& path, QString* error = nullptr);

// Splits file content into lines without their ends. Lines end in CR LF; a lone LF also ends a line
// (files edited by hand), and a last line without an end counts when it is not empty.
QList<QByteArray> splitLines(const QByteArray& content);

// Joins lines, each followed by CR LF.
QByteArray joinLines(const QList<QByteArray>& lines);

// Reads a CP932 text file as decoded lines; nullopt when it cannot be read.
std::optional<QStringList> readTextLines(const QString& path, QString* error = nullptr);

// Encodes lines to CP932 with CR LF after each.
QByteArray encodeTextLines(const QStringList& lines);

} // namespace tarv

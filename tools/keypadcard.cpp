// keypadcard [FILE]: writes the one-page keypad card (HTML, A4, Japanese) from the command entry's
// own table, to FILE or to standard output.
#include "control/commandentry.h"

#include <QFile>
#include <QTextStream>

int main(int argc, char** argv)
{
    QFile out;
    if (argc > 1) {
        out.setFileName(QString::fromLocal8Bit(argv[1]));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
    } else if (!out.open(stdout, QIODevice::WriteOnly)) {
        return 1;
    }
    QTextStream html(&out);
    html << "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\"><title>Tarv テンキー操作カード</title>\n"
            "<style>@page{size:A4;margin:15mm}body{font-family:'Noto Sans CJK JP',sans-serif;font-size:14pt}"
            "h1{font-size:22pt}table{border-collapse:collapse;width:100%}"
            "td{border:1px solid #444;padding:6pt 8pt;vertical-align:top}"
            "td:first-child{white-space:nowrap;font-weight:bold;font-size:16pt}</style></head><body>\n"
            "<h1>Tarv テンキー操作カード</h1>\n<table>\n";
    for (const tarv::KeypadCommand& command : tarv::keypadCard())
        html << "<tr><td>" << command.keys.toHtmlEscaped() << "</td><td>" << command.meaning.toHtmlEscaped()
             << "</td></tr>\n";
    html << "</table>\n<p>画面上部の帯に結果が表示されます。帯をクリックすると直前の操作をもう一度行います。</p>\n"
            "</body></html>\n";
    return html.status() == QTextStream::Ok ? 0 : 1;
}

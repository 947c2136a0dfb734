#pragma once

namespace tarv {

// Makes SIGTERM, SIGINT and SIGHUP (a logout, a shutdown, Ctrl+C in a terminal, `kill`) end the
// program as its menu does: the event loop quits and everything is put away as after a normal end.
// A second signal while the first is handled ends the program at once. Call once, after the
// application object exists.
void quitOnTermination();

} // namespace tarv

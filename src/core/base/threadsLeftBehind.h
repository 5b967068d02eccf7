#pragma once
// Threads that an end had to leave behind, still inside a call that does not heed being
// cut short (a name lookup in the system's resolver): the session's, or the messages'.
// Such a thread may yet be in libcurl or about to log, so the process must then end
// without its static destructors (libcurl's, Qt's, the log's). Process-wide; any thread.

// Called by an end that detached its thread.
void noteThreadLeftBehind();
// Whether any end in this process had to.
bool anyThreadLeftBehind();

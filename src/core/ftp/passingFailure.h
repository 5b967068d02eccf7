#pragma once
// Which failures of an hour's upload may pass within minutes, so the hour is worth
// trying again, and which will not: those need the operator, and repeating them does
// harm (a provider locks an account after a few refused logins).

#include "core/ftp/ftpSession.h"

// May pass: no connection (refused, a time-out, a name that does not resolve, a secure
// channel that was not set up), a connection dropped or stalled on the way, a reply of
// the 4xx kind (421 too many users, 450, 451, 452), an image missing or empty (the camera
// is still writing it), no session at all. Will not: a refused login (530), a refused
// certificate or host key, a refused folder or name (550, 553), no space granted (552),
// any other 5xx reply, a name with a line break, a call cut short by the program's end,
// and a fault of the program's own (libcurl missing, a protocol it was built without).
bool mayPass(const FtpFailure& failure);

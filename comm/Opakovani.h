#ifndef RQ_COMM_OPAKOVANI_H
#define RQ_COMM_OPAKOVANI_H

#include "comm/Kxxx638.h"

// Which failed module transactions are worth another try. The programs
// that run unattended (rqtool, the gateway) repeat them through their
// BusLink's retries (comm/Linka); the dialogs keep their single try, and a
// technician sees every lost reply.

// Whether another try may succeed: the request could not be sent, the reply
// did not come or came damaged (timeout, checksum, length, another module's
// or command's reply, noise), or the module said it was busy. The other
// errors the module reports, and adapter faults, are final.
bool IsTransientError(quint8 error);

// Whether the module itself answered, with an error of its own (31..39):
// proof that a module is there, and nothing a converter client should wait out.
bool IsModuleError(quint8 error);

#endif

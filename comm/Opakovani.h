#ifndef RQ_COMM_OPAKOVANI_H
#define RQ_COMM_OPAKOVANI_H

#include "comm/Kxxx638.h"

// Repeating module transactions that timed out or came back damaged, for the
// programs that run unattended (rqtool, the gateway). Off unless a program
// turns it on: the dialogs keep their single try, and a technician sees
// every lost reply.

// How many times a failed transaction is sent again (0: a single try). For
// the whole process, like the binding it stands beside.
void SetTransactionRetries(int retries);
int TransactionRetries();

// Whether another try may succeed: the request could not be sent, the reply
// did not come or came damaged (timeout, checksum, length, another module's
// or command's reply, noise), or the module said it was busy. The other
// errors the module reports, and adapter faults, are final.
bool IsTransientError(quint8 error);

// Whether the module itself answered, with an error of its own (31..39):
// proof that a module is there, and nothing a converter client should wait out.
bool IsModuleError(quint8 error);

// RunModuleTransaction, repeated while the error is transient and retries
// are left; every try sends the D0..D4 given. The last try's result.
void RunModuleTransactionRetrying(quint8 kind, quint32 handle, quint8 address, quint8 command, quint8 subCode,
                                  ModuleBytes &d, quint8 &error, int retries = TransactionRetries());

#endif

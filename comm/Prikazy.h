// The module's command and subcode numbers, one place for every engine
// that builds transactions by hand.
#ifndef RQ_COMM_PRIKAZY_H
#define RQ_COMM_PRIKAZY_H

#include <QtGlobal>

constexpr quint8 CmdMeasure = 0;      // subcode: input, 16 temperature, 64 digital inputs
constexpr quint8 CmdWriteOutputs = 1; // subcode 64: all outputs
constexpr quint8 CmdReadStatus = 100;
constexpr quint8 CmdClearStatus = 101;
constexpr quint8 CmdReadMemory = 102;
constexpr quint8 CmdWriteMemory = 103;
constexpr quint8 CmdIdentify = 200;

constexpr quint8 SubModelCode = 1;
constexpr quint8 SubTemperature = 16;
constexpr quint8 SubDigitalInputs = 64;

#endif

#ifndef RQ_CLI_ZARIZENI_H
#define RQ_CLI_ZARIZENI_H

#include "cli/Kontext.h"

// The modules of a plant file as they are and as the file wants them: what
// plan prints and apply writes. Every module is read before anything is
// written, so that a file wrong for any module writes nothing anywhere.

struct ModuleState
{
    const PlantModule *module = nullptr;
    quint32 baud = 0;
    QString identity;
    ModuleModel model = ModuleModel::RQ3510;
    EepromBlock before{}, after{}; // only the offsets hold the module's bytes
    QList<int> offsets, changed;
    QList<FieldChange> changes;
    QString fault;   // a key or value the file gives that the module's model does not take
    QString refusal; // another model than the file says
    QString risk;    // asked as restore asks: the file names no model
    QString failure; // it did not answer or its read failed
    QJsonObject json() const;
    QString label() const;
};

// Reads every module of c.plant: identity, then the bytes its settings lie in.
QList<ModuleState> ReadPlant(Context &c);
// One line per change, the bytes, and the faults, refusals and risks; the
// JSON array of the modules in c.result. Modules that did not answer go to
// standard error.
void PrintPlan(Context &c, const QList<ModuleState> &states);
// The exit code for faults, refusals and modules that did not answer, 0 when
// there are none.
int PlanTrouble(const QList<ModuleState> &states);

#endif

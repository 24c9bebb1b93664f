#ifndef RQ_IMAGE_ZARIZENI_H
#define RQ_IMAGE_ZARIZENI_H

#include "image/Obraz.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// A plant file: one bus, its gateway and the settings its modules should
// have, in the UTF-8 INI that rqgw reads:
//
//   [bus]              adapter=, com=, isa=, ip=, udp-port=, udp-timeout=, baud=
//   [gateway]          rqgw's own keys (rqgw checks them)
//   [module NAME]      address= and baud= (where the module answers now),
//                      model=, unit= and interval= (rqgw's), and any settings
//                      key of rqtool get --list for the model: ain0=+/- 1 V
//
// Keys not given are left as the module has them. The bus address and rate
// in the module's memory are never set from here (moving a module is a
// question of its own) and neither are the calibration constants (they
// belong to the module's hardware). rqtool (export, plan, apply) and rqgw
// (its configuration check and the drift report) read it through this unit.

struct PlantSetting
{
    QString key; // lower case
    QString value;
    int line = 0;
};

struct PlantModule
{
    QString name;
    int line = 0;    // of its [module NAME]
    int endLine = 0; // its last line that is not blank or a comment
    quint8 address = 0;
    quint32 baud = 0; // 0: the bus's
    std::optional<ModuleModel> model;
    QList<PlantSetting> settings;
};

struct PlantFile
{
    // [bus] and [gateway] as written, keys in lower case.
    QList<QPair<QString, QString>> bus;
    QList<QPair<QString, QString>> gateway;
    QList<PlantModule> modules;
    quint32 baud() const; // [bus] baud=, else 9600
    QString gatewayValue(const QString &key) const;
};

// What is wrong in a file: where and why, in Czech.
struct PlantError
{
    int line = 0;
    QString key;
    QString reason;
    QString text(const QString &file) const; // "soubor:12: ain0: …"
};

// The sections of a plant file, which are those of rqgw's configuration.
enum class PlantSection { None, Gateway, Bus, Module };

// What reading a plant file's lines calls, line by line; a call that returns
// a fault stops the reading with it.
struct PlantSectionVisitor
{
    // The section ends: before the next head and at the end of the text.
    std::function<std::optional<PlantError>(PlantSection section)> sectionEnds;
    // A head: [gateway], [bus] or [module NAME] (the name as written).
    std::function<void(PlantSection section, const QString &name, int line)> sectionStarts;
    // key=value in the section (None before the first head); the key in lower
    // case, both trimmed.
    std::function<std::optional<PlantError>(PlantSection section, const QString &key, const QString &value,
                                            int line)>
        entry;
};
// Reads the text in UTF-8 (a byte order mark may lead), passing over blank
// lines and those beginning ; or #: a head is [gateway], [bus] or
// [module NAME], each module's name once (case aside); any other line is
// key=value. The first fault: in the text's form, or from the visitor.
std::optional<PlantError> ReadPlantSections(const QByteArray &text, const PlantSectionVisitor &visitor);

// The keys a plant file may set for the model, in the decoder's order.
const QStringList &PlantKeys(ModuleModel model);
// Whether any model has the key as a plant file's settings key.
bool IsPlantKey(const QString &key);
// The model model= names ("RQ-3520", "3520"); nothing for anything else.
std::optional<ModuleModel> PlantModelOf(const QString &value);
// Why a module section's settings cannot stand: a key unknown for the model,
// a value the model does not take, a key given twice. Without a model a key
// and value must fit at least one model (the module's own is checked once it
// has answered). Nothing when they are sound.
std::optional<PlantError> CheckPlantSettings(const std::optional<ModuleModel> &model,
                                             const QList<PlantSetting> &settings);
// The whole file; nothing is kept from a file that fails anywhere.
std::optional<PlantError> ParsePlantFile(const QByteArray &text, PlantFile &plant);

// The block offsets the settings lie in, sorted: what has to be read to
// compare them (a digital key's whole byte).
QList<int> PlantOffsets(ModuleModel model, const QList<PlantSetting> &settings);
// The settings written into the block (only their bits and bytes change);
// false, the block unchanged, with why.
bool ApplyPlantSettings(EepromBlock &block, ModuleModel model, const QList<PlantSetting> &settings,
                        QString *why = nullptr);
// The offsets of the list where the two blocks differ.
QList<int> ChangedOffsets(const EepromBlock &a, const EepromBlock &b, const QList<int> &offsets);

// The lines of a module section that export writes: model= and every key of
// the model with the value the block holds. A value the model does not know
// is left out of the settings and stands as a comment saying so.
QStringList PlantSettingLines(const EepromBlock &block, ModuleModel model);
// The file with the lines of each module (by index into plant.modules) put
// in place of the section's model= and settings lines and export's own
// comments; everything else of the file stays as it was.
QByteArray FillPlantFile(const QByteArray &text, const PlantFile &plant, const QList<QStringList> &lines);
// A comment line export puts at the head of a module's settings.
inline constexpr QLatin1StringView PlantCommentMark{"; rqtool export:"};

#endif

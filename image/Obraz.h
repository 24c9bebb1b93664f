#ifndef RQ_IMAGE_OBRAZ_H
#define RQ_IMAGE_OBRAZ_H

#include "core/Cislo.h"
#include "dio/EepromFile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The 512 bytes of a module's configuration memory (page 0, then page 1, as
// in an EEPROM file) read as named fields of one module model.
//
// Every field has a stable machine key (for scripts and the command line),
// a Czech caption (as the dialogs name it) and its value as the dialogs show
// it. The keys:
//
//   address, baud                      page 0, addresses 63 and 62
//   ain0 .. ain11 (ain0 .. ain5)       range or sensor byte, addresses 0..11 (RQ-3530: 0..5)
//   count                              count of measured inputs, address 16 (RQ-3520 only)
//   thermometer                        internal thermometer switch and unit, address 31
//   din0.negation .. din31.negation    bits of addresses 33 + 3k
//   dout0.negation .. dout31.negation  bits of addresses 34 + 3k
//   dout0.initial .. dout31.initial    bits of addresses 32 + 3k
//   ain.gain, ain.offset               analog calibration constants, addresses 23..26
//   thermometer.gain, thermometer.offset  thermometer calibration constants, 27..30
//   other                              every other byte of page 0 and all of page 1
//
// The field list depends on the model: an RQ-3530 has six inputs, and only
// an RQ-3520 uses address 16; bytes a model does not use belong to "other".

enum class ModuleModel { RQ3510, RQ3520, RQ3530 };

inline constexpr ModuleModel AllModels[] = {ModuleModel::RQ3510, ModuleModel::RQ3520, ModuleModel::RQ3530};

// "RQ-3510", "RQ-3520", "RQ-3530".
QString ModelName(ModuleModel model);
// The model of a module identity ("RQ-3510  v.1.08"), of a model name
// ("RQ-3520") or of its number ("3530"); empty for anything else.
std::optional<ModuleModel> ModelOfIdentity(const QString &identity);
// The models for which every range or sensor byte of the block is valid, in
// the order of AllModels.
QList<ModuleModel> ModelsFitting(const EepromBlock &block);
// How many of the model's range or sensor bytes hold a value the model knows
// (at most 12, 6 for an RQ-3530).
int InputsFitting(const EepromBlock &block, ModuleModel model);
// The captions of the inputs whose range or sensor byte the model does not
// know ("AIN3"), in input order.
QStringList InvalidInputs(const EepromBlock &block, ModuleModel model);

struct ImageField
{
    QString key;        // stable machine name, see above
    QString caption;    // Czech, as the dialogs name it: "Adresa modulu", "AIN3", "Negace DIN5"
    QString text;       // the value as the dialogs show it: "9600 Bd", "+/- 2 V", "ano"
    int value = 0;      // the number behind it: byte, bit (0 or 1) or 16-bit constant
    bool valid = true;  // whether the module model knows the value
    QList<int> offsets; // block offsets the field lies in (for "other": all of them)
    int bit = -1;       // bit within offsets[0] for the digital fields, else -1
};

// Every field of the model, in a fixed order: address, baud, the inputs,
// count, thermometer, the digital fields, the calibration constants, other.
QList<ImageField> DecodeImage(const EepromBlock &block, ModuleModel model);
// One field by its key; empty when the model has no such field.
std::optional<ImageField> DecodeField(const EepromBlock &block, ModuleModel model, const QString &key);
// The keys of the model, in the order of DecodeImage.
QStringList FieldKeys(ModuleModel model);

struct FieldChange
{
    QString key;
    QString caption;
    QString before;     // value text in the first image
    QString after;      // value text in the second image
    QList<int> offsets; // the block offsets whose bytes differ
    // "Adresa modulu: 1 → 100"; for "other": "Ostatní bajty: liší se 3 bajty".
    QString text() const;
};

// The fields whose value differs between the two images, in field order.
QList<FieldChange> CompareImages(const EepromBlock &before, const EepromBlock &after, ModuleModel model);

// The texts a field accepts for EncodeField besides plain numbers (the items
// of the dialogs, "ano"/"ne" for the digital fields); empty for numeric fields.
QStringList FieldChoices(ModuleModel model, const QString &key);

// Writes a value into the field's bytes and leaves every other bit alone.
// The value is the text DecodeImage shows (case does not matter; for an
// RQ-3530 input "Pt100 (0.00385), °C, 3 vodiče") or a number: the byte of
// the range or sensor, the bus address, the baud rate ("9600" or "9600 Bd"),
// the count, the thermometer byte, 1/0 for a bit, the constant (the analog
// offset signed). Only values valid for the model are taken. False, with
// the block unchanged and *error saying why in Czech, otherwise.
bool EncodeField(EepromBlock &block, ModuleModel model, const QString &key, const QString &value,
                 QString *error = nullptr);

// The unit of the internal temperature by the thermometer byte: "°C",
// "dílky" (raw counts), or empty when the thermometer is switched off.
QString ThermometerUnit(quint8 byte);

// A byte of the block as text for people: "stránka 1, adresa 5".
QString BlockPlace(int offset);

#endif

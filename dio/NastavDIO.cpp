#include "dio/NastavDIO.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {
constexpr int Fields = 3;
constexpr int Channels = 32;
constexpr int GapRow = 8; // an empty row between channels 7 and 8 (23 and 24)
constexpr int GapHeight = 8;
} // namespace

TForm14::TForm14(QWidget *parent) : TNastavDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení digitálních vstupů/výstupů"));
    const std::array<QString, Fields> captions{QStringLiteral(" Negace DIN "), QStringLiteral("Negace DOUT "),
                                               QStringLiteral(" Počáteční stav DOUT ")};
    const std::array<QString, Fields> names{QStringLiteral("DIN"), QStringLiteral("DOUT"),
                                            QStringLiteral("DOUT")};
    auto *groups = new QHBoxLayout;
    body()->addLayout(groups);
    for (int g = 0; g < Fields; ++g) {
        auto *group = new QGroupBox(captions[std::size_t(g)], this);
        auto *grid = new QGridLayout(group);
        grid->setHorizontalSpacing(16);
        grid->setVerticalSpacing(2);
        grid->setRowMinimumHeight(GapRow, GapHeight);
        for (int channel = 0; channel < Channels; ++channel) {
            const int i = g * Channels + channel;
            auto *box = new QCheckBox(names[std::size_t(g)] + QString::number(channel), group);
            box->setObjectName(QStringLiteral("CheckBox") + QString::number(i + 1));
            // Channels 0..15 on the left, 16..31 on the right.
            const int row = channel % 16;
            grid->addWidget(box, row < GapRow ? row : row + 1, channel / 16);
            CheckBoxes[std::size_t(i)] = box;
        }
        groups->addWidget(group);
    }
}

std::array<quint8, 4> &TForm14::field(TCFGRQ &image, int g)
{
    return g == 0 ? image.dinNegation : g == 1 ? image.doutNegation : image.doutInitial;
}

const std::array<quint8, 4> &TForm14::field(const TCFGRQ &image, int g)
{
    return g == 0 ? image.dinNegation : g == 1 ? image.doutNegation : image.doutInitial;
}

void TForm14::ZapisOkno(const TCFGRQ &image)
{
    for (int i = 0; i < BoxCount; ++i) {
        const quint8 element = field(image, i / Channels)[std::size_t(i % Channels / 8)];
        CheckBoxes[std::size_t(i)]->setChecked((element >> (i % 8)) & 1);
    }
}

Validation TForm14::PrectiOkno(TCFGRQ &image)
{
    for (int g = 0; g < Fields; ++g)
        field(image, g).fill(0);
    for (int i = 0; i < BoxCount; ++i) {
        if (CheckBoxes[std::size_t(i)]->isChecked())
            field(image, i / Channels)[std::size_t(i % Channels / 8)] |= quint8(1u << (i % 8));
    }
    return showValidation({});
}

QList<TransferStep> TForm14::steps(TCFGRQ &image)
{
    // One pass per field, in the order the module's memory interleaves them.
    const std::array<std::pair<quint8, std::array<quint8, 4> *>, Fields> passes{{
        {CfgAddr::DoutInitial, &image.doutInitial},
        {CfgAddr::DinNegation, &image.dinNegation},
        {CfgAddr::DoutNegation, &image.doutNegation},
    }};
    QList<TransferStep> list;
    for (const auto &[first, elements] : passes) {
        for (int k = 0; k < 4; ++k)
            list.append({0, quint8(first + 3 * k), &(*elements)[std::size_t(k)]});
    }
    return list;
}

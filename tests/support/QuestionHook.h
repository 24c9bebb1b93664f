#ifndef RQ_TESTS_QUESTIONHOOK_H
#define RQ_TESTS_QUESTIONHOOK_H

#include "app/Otazka.h"

#include <QList>
#include <QMessageBox>
#include <QPushButton>

// Answers the program's questions for as long as it lives, and records them
// with their buttons, so a test sees what the user would have been asked.
class QuestionHook
{
public:
    explicit QuestionHook(bool answer = true) : answer(answer)
    {
        m_previous = rq::setAskHook([this](QMessageBox &box) {
            questions.append(box.text());
            QStringList b;
            for (QAbstractButton *button : box.buttons())
                b << button->text() + QLatin1Char('/') + QString::number(int(box.buttonRole(button)));
            buttons = b;
            if (onAsk)
                onAsk(box.text());
            return this->answer;
        });
    }
    ~QuestionHook() { rq::setAskHook(m_previous); }
    QuestionHook(const QuestionHook &) = delete;
    QuestionHook &operator=(const QuestionHook &) = delete;

    bool answer;
    QStringList questions;
    QStringList buttons; // of the last question: "Ano/5" (YesRole), "Ne/6" (NoRole)
    std::function<void(const QString &)> onAsk;

private:
    rq::AskHook m_previous;
};

#endif

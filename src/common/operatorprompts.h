#pragma once

#include <QString>

namespace tarv {

enum class MessageIcon { None, Information, Question, Exclamation, Critical };

// The questions an operator window asks: input boxes and message boxes. The window answers
// them with real dialogs; tests answer them from a script. Texts use CR LF between lines.
class OperatorPrompts
{
public:
    virtual ~OperatorPrompts() = default;

    // An input box; the typed text, or an empty text when cancelled.
    virtual QString input(const QString& prompt, const QString& title, const QString& defaultAnswer) = 0;

    // A message box with Yes and No buttons; true only for Yes.
    virtual bool confirm(const QString& text, const QString& title, MessageIcon icon) = 0;

    // A message box with an OK button. An empty title means the program's name.
    virtual void message(const QString& text, const QString& title = {}, MessageIcon icon = MessageIcon::None) = 0;
};

} // namespace tarv

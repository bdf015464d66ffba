#pragma once

#include "widgets/operator_messages.h"

#include <QString>
#include <deque>
#include <vector>

namespace ufd::testing {

// Records every operator message and answers questions from a script (then `defaultAnswer`).
class ScriptedOperatorMessages final : public app::OperatorMessages {
public:
    enum class Kind { Message, Error, YesNo, OkCancel, YesNoCancel };
    struct Entry {
        Kind kind;
        QString title;
        QString text;
    };

    void showMessage(const QString& text) override { shown.push_back({Kind::Message, {}, text}); }
    void showError(const QString& text) override { shown.push_back({Kind::Error, {}, text}); }
    bool askYesNo(const QString& title, const QString& text) override {
        shown.push_back({Kind::YesNo, title, text});
        return answer();
    }
    bool askOkCancel(const QString& text) override {
        shown.push_back({Kind::OkCancel, {}, text});
        return answer();
    }
    Choice askYesNoCancel(const QString& title, const QString& text) override {
        shown.push_back({Kind::YesNoCancel, title, text});
        if (choices.empty()) {
            return Choice::Cancel;
        }
        const Choice c = choices.front();
        choices.pop_front();
        return c;
    }

    int count(Kind kind) const {
        int n = 0;
        for (const Entry& e : shown) {
            n += e.kind == kind ? 1 : 0;
        }
        return n;
    }

    std::vector<Entry> shown;
    std::deque<bool> answers;
    std::deque<Choice> choices; // then Cancel
    bool defaultAnswer = false;

private:
    bool answer() {
        if (answers.empty()) {
            return defaultAnswer;
        }
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
};

} // namespace ufd::testing

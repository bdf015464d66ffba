#pragma once

#include <QFlags>
#include <QPointer>
#include <QWidget>
#include <map>

class QAbstractButton;
class QBoxLayout;

namespace ufd::app {

class DataLink;

// The record navigator every data window uses: a row of buttons that move through, add,
// delete, edit and store rows of a DataLink and follow its state. Which buttons show, their
// direction and whether they carry pictures or captions is up to the window.
class RecordNavigator : public QWidget {
    Q_OBJECT
public:
    enum Button {
        First = 0x1,
        Prior = 0x2,
        Next = 0x4,
        Last = 0x8,
        Insert = 0x10,
        Delete = 0x20,
        Edit = 0x40,
        Post = 0x80,
        Cancel = 0x100,
        Refresh = 0x200,
    };
    Q_DECLARE_FLAGS(Buttons, Button)

    explicit RecordNavigator(Buttons visible, QWidget* parent = nullptr);

    void setDataLink(DataLink* link);
    DataLink* dataLink() const { return link_; }

    void setOrientation(Qt::Orientation orientation);
    // Shows `text` on the button instead of its picture.
    void setButtonText(Button button, const QString& text);
    QAbstractButton* button(Button button) const;

    // The hint a button shows as its tool tip.
    static QString hint(Button button);

signals:
    void clicked(ufd::app::RecordNavigator::Button button);

private:
    void press(Button button);
    void updateButtons();

    QBoxLayout* layout_;
    std::map<Button, QAbstractButton*> buttons_;
    QPointer<DataLink> link_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(RecordNavigator::Buttons)

} // namespace ufd::app

#include "widgets/record_navigator.h"

#include "widgets/data_link.h"
#include "widgets/icons.h"

#include <QBoxLayout>
#include <QToolButton>
#include <array>

namespace ufd::app {

namespace {

struct ButtonInfo {
    RecordNavigator::Button button;
    Picture picture;
    const char* hint;
    const char* objectName;
};

constexpr std::array<ButtonInfo, 10> kButtons{{
    {RecordNavigator::First, Picture::NavFirst, "First record", "nbFirst"},
    {RecordNavigator::Prior, Picture::NavPrior, "Prior record", "nbPrior"},
    {RecordNavigator::Next, Picture::NavNext, "Next record", "nbNext"},
    {RecordNavigator::Last, Picture::NavLast, "Last record", "nbLast"},
    {RecordNavigator::Insert, Picture::NavInsert, "Insert record", "nbInsert"},
    {RecordNavigator::Delete, Picture::NavDelete, "Delete record", "nbDelete"},
    {RecordNavigator::Edit, Picture::NavEdit, "Edit record", "nbEdit"},
    {RecordNavigator::Post, Picture::NavPost, "Post edit", "nbPost"},
    {RecordNavigator::Cancel, Picture::NavCancel, "Cancel edit", "nbCancel"},
    {RecordNavigator::Refresh, Picture::NavRefresh, "Refresh data", "nbRefresh"},
}};

} // namespace

RecordNavigator::RecordNavigator(Buttons visible, QWidget* parent)
    : QWidget(parent), layout_(new QBoxLayout(QBoxLayout::LeftToRight, this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(1);
    for (const ButtonInfo& info : kButtons) {
        if (!visible.testFlag(info.button)) {
            continue;
        }
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(info.objectName));
        b->setIcon(drawnIcon(info.picture));
        b->setIconSize(QSize(20, 20));
        b->setToolTip(QLatin1String(info.hint));
        b->setStatusTip(QLatin1String(info.hint));
        b->setAutoRaise(false);
        b->setMinimumSize(28, 24);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        const Button which = info.button;
        connect(b, &QToolButton::clicked, this, [this, which] { press(which); });
        layout_->addWidget(b);
        buttons_[info.button] = b;
    }
    updateButtons();
}

QString RecordNavigator::hint(Button button) {
    for (const ButtonInfo& info : kButtons) {
        if (info.button == button) {
            return QLatin1String(info.hint);
        }
    }
    return {};
}

void RecordNavigator::setDataLink(DataLink* link) {
    if (link_) {
        disconnect(link_, nullptr, this, nullptr);
    }
    link_ = link;
    if (link_) {
        connect(link_, &DataLink::changed, this, &RecordNavigator::updateButtons);
    }
    updateButtons();
}

void RecordNavigator::setOrientation(Qt::Orientation orientation) {
    layout_->setDirection(orientation == Qt::Horizontal ? QBoxLayout::LeftToRight
                                                        : QBoxLayout::TopToBottom);
    for (auto& [which, b] : buttons_) {
        b->setSizePolicy(orientation == Qt::Horizontal ? QSizePolicy::Expanding
                                                       : QSizePolicy::Preferred,
                         QSizePolicy::Fixed);
    }
}

void RecordNavigator::setButtonText(Button button, const QString& text) {
    if (auto* b = qobject_cast<QToolButton*>(this->button(button))) {
        b->setText(text);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setMinimumSize(75, 25);
    }
}

QAbstractButton* RecordNavigator::button(Button button) const {
    const auto it = buttons_.find(button);
    return it == buttons_.end() ? nullptr : it->second;
}

void RecordNavigator::press(Button button) {
    if (link_) {
        switch (button) {
        case First:
            link_->first();
            break;
        case Prior:
            link_->prior();
            break;
        case Next:
            link_->next();
            break;
        case Last:
            link_->last();
            break;
        case Insert:
            link_->insert();
            break;
        case Delete:
            link_->remove();
            break;
        case Edit:
            link_->edit();
            break;
        case Post:
            link_->post();
            break;
        case Cancel:
            link_->cancel();
            break;
        case Refresh:
            link_->refresh();
            break;
        }
    }
    emit clicked(button);
}

void RecordNavigator::updateButtons() {
    const bool active = link_ && link_->state() != DataLink::State::Inactive;
    const bool editing = active && (link_->state() == DataLink::State::Edit ||
                                    link_->state() == DataLink::State::Insert);
    const int row = active ? link_->currentRow() : -1;
    const int count = active ? link_->rowCount() : 0;
    const bool atFirst = row <= 0;
    const bool atLast = row < 0 || row >= count - 1;
    const std::map<Button, bool> enabled{
        {First, active && !atFirst},
        {Prior, active && !atFirst},
        {Next, active && !atLast},
        {Last, active && !atLast},
        {Insert, active},
        {Delete, active && (count > 0 || editing)},
        {Edit, active && !editing && count > 0},
        {Post, editing},
        {Cancel, editing},
        {Refresh, active},
    };
    for (auto& [which, b] : buttons_) {
        b->setEnabled(enabled.at(which));
    }
}

} // namespace ufd::app

#include "app/startup.h"

#include "core/context/app_context.h"
#include "widgets/operator_messages.h"

namespace ufd::app {

bool openStartupData(AppContext& context, OperatorMessages& messages, const QString& folder) {
    if (context.openData(folder)) {
        return true;
    }
    messages.showError(context.lastError());
    return context.usersOpen();
}

} // namespace ufd::app

#include "app/SingleProperty.h"

namespace app {

SingleProperty::SingleProperty(const LanguageResources& languages, QWidget* parent)
    : PropertyDialog(kDialogNumber, {kChannelFields}, languages, parent) {}

}  // namespace app

#pragma once
// The properties of one channel's recording (dialog 270): the fields of the
// group dialog with one channel; "total bit rate" is that channel's.
#include "app/FileProperty.h"

namespace app {

class SingleProperty : public PropertyDialog {
 public:
  static constexpr int kDialogNumber = 270;
  static constexpr ChannelFields kChannelFields = {1078, 1080, 1082};

  explicit SingleProperty(const LanguageResources& languages, QWidget* parent = nullptr);
  using PropertyDialog::set_channel;
  void set_channel(const ChannelVideo& video) { PropertyDialog::set_channel(0, video); }
};

}  // namespace app

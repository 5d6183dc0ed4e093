#include "ui/port_choice.h"

#include "serial/port_channel.h"
#include "settings/settings_store.h"

namespace kestovane {

std::optional<int16_t> StoredPortChoice(uint8_t root) {
  const std::string com = ReadSetting("com", root);
  if (com.empty()) return std::nullopt;
  return PortIndexFromText(com);
}

void ClosePortAndStoreChoice(uint8_t root) {
  if (SelectedPortIndex == OpenedPortIndex) ClosePort(SelectedPortIndex);
  WriteSetting("com", PortIndexText(SelectedPortIndex), root);
}

}  // namespace kestovane

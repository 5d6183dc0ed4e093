#include "programming/batch.h"

#include <chrono>

#include "catalogue/catalogue.h"
#include "platform/forms.h"
#include "programming/programming_sequence.h"
#include "protocol/device_search.h"
#include "protocol/exchange.h"
#include "protocol/reply_parser.h"
#include "serial/port_channel.h"

namespace kestovane {

size_t BuildSpecialFrame(uint8_t command, const uint8_t* payload, uint8_t length, uint8_t* out) {
  size_t n = 0;
  out[n++] = command;
  out[n++] = length;
  for (uint8_t i = 0; i < length; ++i) out[n++] = payload[i];
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) sum += out[i];
  out[n++] = static_cast<uint8_t>(sum >> 8);
  out[n++] = static_cast<uint8_t>(sum);
  return n;
}

void RunSpecialAction(uint8_t specialMarker) {
  if (specialMarker == 1) {
    // A plain sleep, no window messages: the device needs the time, and
    // nothing may start meanwhile.
    CurrentWaitClock().WaitForInput(-1, std::chrono::milliseconds(kPauseMarkerSleepMs));
    return;
  }
  if (specialMarker != 2) return;
  uint8_t frame[2 + 15 + 2];
  const size_t accessLength = BuildSpecialFrame(
      0x00, reinterpret_cast<const uint8_t*>(kSpecialAccessText), 15, frame);
  WritePort(SelectedPortIndex, frame, accessLength);
  PumpMessages(kSpecialFramePauseMs);
  DrainPort();
  const size_t commandLength = BuildSpecialFrame(0x04, nullptr, 0, frame);
  WritePort(SelectedPortIndex, frame, commandLength);
  PumpMessages(kSpecialFramePauseMs);
  DrainPort();
}

void RunBatch(TProgressBar* deviceProgress, TStatusBar* statusBar, TProgressBar* batchProgress) {
  batchProgress->SetMin(0);
  batchProgress->SetMax(CountBatchImages() + 1);
  batchProgress->SetPosition(0);
  for (;;) {
    if (SearchDevice(deviceProgress, statusBar) != 0) return;
    const int8_t left = PrgMode(deviceProgress, statusBar);
    batchProgress->SetPosition(batchProgress->Max() - left);
    if (left == 0) return;
  }
}

}  // namespace kestovane

#include "protocol/device_search.h"

#include <cstdio>

#include "app/feedback.h"
#include "app/personality.h"
#include "platform/forms.h"
#include "protocol/exchange.h"
#include "protocol/reply_parser.h"
#include "serial/port_channel.h"
#include "ui/updater_window.h"

namespace kestovane {

namespace {

constexpr int kProgressMax = 100;

// Nothing of an earlier run may leak into this one: an open info record, its
// texts, the protected range and the committed identity.
void ClearEarlierRun() {
  Identity.infoState = kInfoIdle;
  Identity.infoText[0] = 0;
  Identity.protectedStartRaw[0] = 0;
  Identity.protectedCountRaw[0] = 0;
  Identity.protectedStart = 0;
  Identity.protectedCount = 0;
  ResetIdentity();
}

void SetPanel(TStatusBar* statusBar, const char* text) {
  if (statusBar) statusBar->SetPanelText(OperationPanel, text);
}

void SetProgress(TProgressBar* progressBar, int position) {
  if (progressBar) progressBar->SetPosition(position);
}

// Each window shows the tries its own way: the Loader and Upgrade windows
// count the bar down, the Updater window names the try.
void ShowTry(int attempt, TProgressBar* progressBar, TStatusBar* statusBar) {
  switch (CurrentPersonality) {
    case Personality::Loader:
      ShowStatus("Search Device", clBlack);
      SetProgress(progressBar, kProgressMax - attempt);
      return;
    case Personality::Upgrade:
      SetProgress(progressBar, kProgressMax - attempt);
      SetPanel(statusBar, "Search Device");
      return;
    case Personality::Updater: {
      char text[16];
      std::snprintf(text, sizeof text, "Try %d", attempt);
      SetPanel(statusBar, text);
      return;
    }
  }
}

}  // namespace

uint8_t HandshakeByte() {
  if (CurrentPersonality == Personality::Upgrade) return kHandshakeUpgrade;
  if (LoaderVariant == 1) return kHandshakeLoaderVariant1;
  if (LoaderVariant == 2) return kHandshakeLoaderVariant2;
  return kHandshakeUpdater;
}

int16_t SearchDevice(TProgressBar* progressBar, TStatusBar* statusBar) {
  // Every search opens the port afresh, with fresh line settings. "None
  // opened" must differ from the selection even when no port is chosen
  // (-1), or the reopen would skip its report and the search end unexplained.
  OpenedPortIndex = SelectedPortIndex == -1 ? int16_t{-2} : int16_t{-1};
  if (Form1) Form1->Label2->Hide();
  SetProgress(progressBar, 0);
  if (progressBar) progressBar->SetSmooth(true);
  ReopenSelectedPort();
  ShowPortLabel(statusBar);
  ShowBusy();
  if (CheckPort(SelectedPortIndex) < 0) {
    ShowIdle();
    return kPortNotUsable;
  }

  ClearEarlierRun();
  FrameBuffer[0] = HandshakeByte();
  if (progressBar) {
    progressBar->SetState(TProgressBarState::pbsPaused);
    progressBar->SetMax(kProgressMax);
  }

  bool answered = false;
  for (int attempt = 0; attempt < kSearchTries && !answered; ++attempt) {
    // Leftovers of the previous try are dropped unparsed, and the identity
    // stays zero until this try's 'K'.
    DiscardInput();
    ResetIdentity();
    ShowTry(attempt, progressBar, statusBar);
    Identity.ackReceived = 0;
    Identity.nakReceived = 0;
    WritePort(SelectedPortIndex, FrameBuffer, 1);
    switch (WaitForReply(kHandshakeWaitMs)) {
      case kWaitAbort:
        ShowExchangeError(kUserAbort);
        SetProgress(progressBar, 0);
        return kSearchStopped;
      case kWaitAck:
        answered = true;
        break;
      default:
        break;  // silence or a refusal: try again
    }
  }

  if (progressBar) progressBar->SetState(TProgressBarState::pbsNormal);
  SetProgress(progressBar, 0);
  if (!answered) {
    SetPanel(statusBar, "Device not Found");
    ShowIdle();
    return kDeviceNotFound;
  }
  // The programming sequence goes on from here and ends the run itself.
  return kDeviceFound;
}

}  // namespace kestovane

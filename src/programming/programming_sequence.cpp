#include "programming/programming_sequence.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>

#include "app/feedback.h"
#include "app/identity_display.h"
#include "app/personality.h"
#include "catalogue/catalogue.h"
#include "platform/forms.h"
#include "programming/batch.h"
#include "programming/compatibility.h"
#include "programming/geometry.h"
#include "protocol/exchange.h"
#include "protocol/reply_parser.h"
#include "serial/port_channel.h"
#include "ui/upgrade_window.h"

namespace kestovane {

namespace {

// Bytes of FrameBuffer that every frame starts from, filled before it is built.
constexpr size_t kFramePrefill = 300;
constexpr uint8_t kEntryByte = 0xCC;
constexpr int kEntryWaitMs = 2000;
constexpr int kInfoRecordPasses = 251;
constexpr int kLastBatchColumnPauseMs = 2000;

struct Run {
  TProgressBar* progress;
  TStatusBar* status;
  FamilyGeometry geometry;
  uint32_t header = 4;         // address bytes and the length field
  uint32_t programmed = 0;     // P: image bytes that go to the device
  bool scrambled = false;
  uint8_t column = 0;
};

void Panel(const Run& run, int32_t index, std::string_view text) { run.status->SetPanelText(index, text); }

// A formatted text on the stack: the per-frame texts allocate nothing.
struct Text {
  char chars[96];
  operator std::string_view() const { return chars; }
  operator std::string() const { return chars; }
};

template <class... Args>
Text Format(const char* format, Args... args) {
  Text t;
  std::snprintf(t.chars, sizeof t.chars, format, args...);
  return t;
}

// The key of the frame whose device address is `address`, for the bytes the
// sequence makes up itself; 0 for a plain slot, whose own bytes go in clear.
uint8_t KeyFor(const Run& run, uint32_t address) {
  return run.scrambled ? FrameKey(static_cast<uint8_t>(address & 0xFF), scrambleSwitch) : 0;
}

void StartFrame(const Run& run, uint32_t address, uint8_t fill) {
  std::memset(FrameBuffer, fill, kFramePrefill);
  FrameBuffer[0] = static_cast<uint8_t>(address >> 16);
  FrameBuffer[1] = static_cast<uint8_t>(address >> 8);
  FrameBuffer[2] = static_cast<uint8_t>(address);
  if (run.geometry.LengthFieldSize() == 2) {
    FrameBuffer[3] = static_cast<uint8_t>(run.geometry.blockSize >> 8);
    FrameBuffer[4] = static_cast<uint8_t>(run.geometry.blockSize);
  } else {
    FrameBuffer[3] = static_cast<uint8_t>(run.geometry.blockSize);
  }
}

bool Failed(int16_t result) {
  if (result >= 0) return false;
  ShowExchangeError(result);
  return true;
}

// The bootloader sends its description shortly after the identity; wait a
// little for it, but never fail the run without it.
void AwaitInfoRecord() {
  for (int pass = 0; pass < kInfoRecordPasses && !Identity.infoComplete; ++pass) {
    ParseReplies();
    PumpMessages(5);
  }
}

// K80 parts keep only the first four bytes of their application's reset
// vector below the bootloader; the rest of the tail is cleared for good.
void TrimK80FixTail(uint8_t deviceCode) {
  ImageSlot& slot = ImageCatalogue[kGenericRow][deviceCode == 71 ? 8 : 9];
  for (int32_t i = 4; i < slot.fixTailSize && slot.fixTail; ++i) slot.fixTail[i] = 0;
}

bool Suits(const Run& run) {
  const ApparatusCodes codes{.devicePrintCode = Identity.printCode,
                             .devicePreparationCode = Identity.preparationCode,
                             .identitySeen = Identity.identitySeen != 0,
                             .imagePrintCode = SelectedImage.printCode,
                             .imagePreparationCode = SelectedImage.preparationCode};
  if (SuitsApparatus(codes)) return true;
  ShowResult(Format("%s - Preparation %x", PrintName(SelectedImage.printCode), SelectedImage.preparationCode), clRed, 0);
  Panel(run, DevicePanel, "Warning!!");
  Panel(run, InfoPanel, "not suitable apparatus");
  return false;
}

// Step 18: full block frames; a block whose following address lies in the
// bootloader's protected range is skipped. Returns false when the run ends.
bool SendBlocks(Run& run, uint32_t& frameAddress, uint32_t& filled) {
  const FamilyGeometry& g = run.geometry;
  const uint8_t* image = SelectedImage.image;
  int silentInARow = 0;
  uint32_t i = 0;
  filled = 0;
  while (i < run.programmed) {
    if (filled == 0) {
      frameAddress = i / g.addressUnit;
      if (CurrentPersonality == Personality::Updater)
        Panel(run, OperationPanel, Format("Program %05d (%05x)", frameAddress, frameAddress));
      StartFrame(run, frameAddress, 0xFF);
      filled = run.header;
    }
    if (filled < run.header + g.blockSize) {
      FrameBuffer[filled++] = image[i++];
      continue;
    }
    const uint32_t next = i / g.addressUnit;
    run.progress->SetPosition(static_cast<int>(next));
    const int32_t start = Identity.protectedStart;
    const bool isProtected = start != 0 && static_cast<int64_t>(start) <= next &&
                             next <= static_cast<int64_t>(start) + Identity.protectedCount;
    if (!isProtected) {
      const int16_t result = SendFrame(FrameBuffer, filled);
      if (result == -1) {
        // One unanswered block may be a lost reply; several mean a lost device.
        if (++silentInARow >= kMaxSilentBlocksInARow) {
          ShowExchangeError(result);
          return false;
        }
      } else if (Failed(result)) {
        return false;
      } else {
        silentInARow = 0;
      }
    }
    filled = 0;
  }
  return true;
}

// Step 19: what is left after the loop, with the family's length rule.
bool SendLastFrame(const Run& run, uint32_t frameAddress, uint32_t filled) {
  if (filled == 0) return true;
  const FamilyGeometry& g = run.geometry;
  if (g.group == DeviceGroup::Pic24) {
    const uint32_t length = filled - run.header;
    FrameBuffer[3] = static_cast<uint8_t>(length >> 8);
    FrameBuffer[4] = static_cast<uint8_t>(length);
  } else if (g.k80) {
    // K80 bootloaders write whole 64-byte rows: pad the row with erased flash.
    const uint8_t fill = 0xFF ^ KeyFor(run, frameAddress);
    while (filled < run.header + 64) FrameBuffer[filled++] = fill;
  } else {
    FrameBuffer[3] = static_cast<uint8_t>(filled - run.header);
  }
  return !Failed(SendFrame(FrameBuffer, filled));
}

// Step 20: the application's own reset vector goes at the end of the block
// just below the bootloader, which jumps there once it is done.
bool SendFixFrame(const Run& run) {
  const FamilyGeometry& g = run.geometry;
  if (CurrentPersonality != Personality::Loader) Panel(run, OperationPanel, "Fix Program");
  const uint8_t key = KeyFor(run, g.codeLimit);
  StartFrame(run, g.codeLimit, 0xFF ^ key);
  const uint32_t tail = static_cast<uint32_t>(SelectedImage.fixTailSize);
  uint8_t* place = FrameBuffer + run.header + g.blockSize - tail;
  for (uint32_t t = 0; t < tail; ++t) place[t] = SelectedImage.fixTail[t] ^ key;
  return !Failed(SendFrame(FrameBuffer, run.header + g.blockSize));
}

// Step 21: one frame per EEPROM byte.
bool SendEeprom(const Run& run) {
  const int32_t size = SelectedImage.eepromSize;
  if (size <= 0) return true;
  run.progress->SetPosition(0);
  run.progress->SetMax(size);
  for (int32_t j = 0; j < size; ++j) {
    if (CurrentPersonality != Personality::Loader) Panel(run, OperationPanel, Format("Program EEP %d", j));
    std::memset(FrameBuffer, 0xFF, kFramePrefill);
    FrameBuffer[0] = 0x40;
    FrameBuffer[1] = static_cast<uint8_t>(j & 0xFF);
    FrameBuffer[2] = SelectedImage.eeprom[j];
    FrameBuffer[3] = 0x01;
    FrameBuffer[4] = 0x00;
    if (Failed(SendFrame(FrameBuffer, 5))) return false;
    run.progress->SetPosition(j);
  }
  return true;
}

int8_t Succeeded(const Run& run) {
  run.progress->SetPosition(0);
  switch (CurrentPersonality) {
    case Personality::Loader:
      ShowStatus("Successfully updated", clGreen);
      break;
    case Personality::Upgrade:
      Panel(run, OperationPanel, "Program OK");
      break;
    case Personality::Updater:
      ShowResult(" Program Ok ", clGreen, 1);
      break;
  }
  ShowIdle();
  MarkSlotDone(run.column);
  if (!BatchMode) return 0;
  if (run.column == 9) {
    // The K80 device restarts into its new application; let it settle and
    // drop what it says before the next search knocks.
    PumpMessages(kLastBatchColumnPauseMs);
    DrainPort();
  }
  return remainingCount;
}

}  // namespace

int8_t PrgMode(TProgressBar* progressBar, TStatusBar* statusBar) {
  Run run{.progress = progressBar, .status = statusBar, .geometry = {}};
  progressBar->SetPosition(0);
  progressBar->SetSmooth(false);

  if (Identity.bootloaderVersion >= 33) {
    ShowIdentity();
    ShowExchangeError(-4);
    return 0;
  }
  if (Identity.bootloaderVersion >= 8 && Identity.bootloaderVersion <= 31) AwaitInfoRecord();
  // A bootloader without an identity record is taken for board 2.
  if (!Identity.identitySeen) Identity.printCode = 2;

  run.column = SelectImage(Identity.deviceCode, Identity.printCode);

  if (BatchMode && PendingMarkerOf(run.column) == 0) {
    const uint8_t special = SpecialMarkerOf(run.column);
    if (special == 1 || special == 2) {
      RunSpecialAction(special);
      return 1;
    }
  }

  const auto geometry = GeometryFor(Identity.deviceCode, Identity.bootloaderVersion);
  if (!geometry) {
    ShowResult(" Error !! ", clRed, 0);
    Panel(run, DevicePanel, "Unknow Device");
    return 0;
  }
  if (geometry->k80) TrimK80FixTail(Identity.deviceCode);
  run.geometry = *geometry;
  run.header = 3 + run.geometry.LengthFieldSize();

  // Size checks.
  const int32_t size = SelectedImage.imageSize;
  const uint32_t length = size > 0 ? static_cast<uint32_t>(size) : 0;
  if (run.geometry.group == DeviceGroup::Pic24) {
    if (2 * run.geometry.codeLimit < length) {
      ShowTooBigWarning();
      return 0;
    }
    run.programmed = length;
  } else {
    run.programmed = std::min(length, run.geometry.codeLimit);
  }
  // An image too short for its identity bytes and reset vector carries
  // nothing that could run; treat it like no image rather than read past it.
  if (size <= 1 || length < run.geometry.idOffset + 2 || length < run.geometry.resetPatchSize) {
    ShowNoImageWarning();
    return 0;
  }
  Panel(run, DevicePanel, run.geometry.familyText);
  // The tail must fit in the Fix frame's block.
  if (SelectedImage.fixTailSize < 0 || static_cast<uint32_t>(SelectedImage.fixTailSize) > run.geometry.blockSize) {
    ShowResult(" Error !! ", clRed, 0);
    Panel(run, InfoPanel, "Fix tail too long");
    return 0;
  }

  // The image's own codes: in clear from a plain slot, from its identity
  // bytes (keyed like frame address 0) otherwise.
  run.scrambled = SelectedImage.plain == 0;
  const uint32_t id = run.geometry.idOffset;
  if (run.scrambled) {
    SelectedImage.printCode = SelectedImage.image[id] ^ FrameKey(0, scrambleSwitch);
    SelectedImage.preparationCode = SelectedImage.image[id + 1] ^ FrameKey(0, scrambleSwitch);
  }
  if (run.geometry.group == DeviceGroup::Pic24 && Identity.bootloaderVersion >= 8 && Identity.bootloaderVersion <= 31) {
    Identity.protectedStart = RawLittleEndian(Identity.protectedStartRaw);
    Identity.protectedCount = RawLittleEndian(Identity.protectedCountRaw);
  }

  ShowImageKind(static_cast<uint8_t>(SelectedImage.plain));
  ShowIdentity();
  if (!Suits(run)) return 0;

  const uint32_t unit = run.geometry.addressUnit;
  if (CurrentPersonality == Personality::Updater)
    Panel(run, InfoPanel, Format("Loaded %d bytes (%04X to %04X)", length / unit, 0, run.programmed / unit));

  if (Identity.identitySeen && Identity.bootloaderVersion >= kEntryByteVersion) {
    Panel(run, OperationPanel, "Entry in PrgMode");
    Identity.ackReceived = 0;
    Identity.nakReceived = 0;
    const uint8_t entry = kEntryByte;
    WritePort(SelectedPortIndex, &entry, 1);
    // A stop pressed here must stop the run, before anything is written.
    if (WaitForReply(kEntryWaitMs) == -2) {
      ShowExchangeError(-2);
      return 0;
    }
  }

  ShowStatus(" Programming... ", clBtnFace);

  // Hand start-up to the bootloader: it jumps to the application through
  // the Fix block once it has checked for a new image.
  const uint8_t key0 = KeyFor(run, 0);
  for (uint32_t b = 0; b < run.geometry.resetPatchSize; ++b)
    SelectedImage.image[b] = run.geometry.resetPatch[b] ^ key0;

  progressBar->SetPosition(0);
  progressBar->SetMax(static_cast<int>(run.programmed / unit));

  uint32_t frameAddress = 0, filled = 0;
  if (!SendBlocks(run, frameAddress, filled)) return 0;
  if (!SendLastFrame(run, frameAddress, filled)) return 0;
  if (!SendFixFrame(run)) return 0;
  if (!SendEeprom(run)) return 0;
  return Succeeded(run);
}

}  // namespace kestovane

#include "protocol/reply_parser.h"

#include "serial/port_channel.h"

namespace kestovane {

DeviceIdentity Identity;

namespace {

// One fixed area for every poll: polls happen every few milliseconds during
// a run and must not allocate.
uint8_t receiveBuffer[kReceiveBufferSize];

// Data positions of the info record.
constexpr int16_t kProtectedStartFirst = 24;
constexpr int16_t kProtectedCountFirst = 26;
constexpr int16_t kInfoFieldsEnd = 28;

// An info record is only announced by bootloaders of this version range; for
// all others an 'R' is ordinary identity data.
bool InfoRecordsExpected() { return Identity.bootloaderVersion >= 8 && Identity.bootloaderVersion < 32; }

void CommitIdentity() {
  Identity.deviceCode = Identity.pendingDeviceCode;
  Identity.bootloaderVersion = Identity.pendingVersion;
  Identity.printCode = Identity.pendingPrintCode;
  Identity.preparationCode = Identity.pendingPreparationCode;
}

// A byte outside any record that is no code fills the next identity field.
void CollectIdentityByte(uint8_t b) {
  switch (Identity.identityByteCount) {
    case 0: Identity.pendingVersion = b; Identity.identityByteCount = 1; return;
    case 1: Identity.pendingDeviceCode = b; Identity.identityByteCount = 2; return;
    case 2: Identity.pendingPrintCode = b; Identity.identityByteCount = 3; return;
    case 3: Identity.pendingPreparationCode = b; Identity.identityByteCount = kNoIdentityRecord; return;
    default:
      // A reply without 'V': the byte is taken as a bare device code of a
      // bootloader too old to have a version.
      Identity.identitySeen = 0;
      Identity.pendingVersion = 0;
      Identity.pendingDeviceCode = b;
      return;
  }
}

void ParseOutsideRecord(uint8_t b) {
  if (b == kInfoRecord && InfoRecordsExpected()) {
    Identity.infoCount = 0;
    Identity.infoState = kInfoLength;
  } else if (b == kReplyAck) {
    CommitIdentity();
    Identity.ackReceived = 1;
  } else if (b == kReplyNak) {
    Identity.nakReceived = 1;
  } else if (b == kIdentityRecord) {
    Identity.identitySeen = 1;
    Identity.pendingVersion = 1;
    Identity.identityByteCount = 0;
    Identity.infoComplete = 0;
  } else {
    CollectIdentityByte(b);
  }
}

void StoreInfoData(uint8_t b) {
  const int16_t at = Identity.infoCount;
  if (at < kInfoTextLength) {
    Identity.infoText[at] = static_cast<char>(b);
    Identity.infoText[at + 1] = 0;
  } else if (at < kProtectedCountFirst) {
    Identity.protectedStartRaw[at - kProtectedStartFirst] = b;
    Identity.protectedStartRaw[at - kProtectedStartFirst + 1] = 0;
  } else if (at < kInfoFieldsEnd) {
    Identity.protectedCountRaw[at - kProtectedCountFirst] = b;
    Identity.protectedCountRaw[at - kProtectedCountFirst + 1] = 0;
  }
  // Data beyond the known fields is dropped.
}

// The port is only read while the selected entry is open; a closed entry
// reads nothing anyway, but this keeps the parser off stale descriptors.
bool SelectedPortOpen() { return PortDescriptor(SelectedPortIndex) >= 0; }

}  // namespace

void ParseReplyByte(uint8_t b) {
  switch (Identity.infoState) {
    case kInfoLength:
      Identity.infoLength = b;
      Identity.infoCount = 0;
      Identity.infoState = kInfoSkip;
      return;
    case kInfoSkip:
      Identity.infoState = kInfoData;
      return;
    case kInfoData:
      if (Identity.infoCount < Identity.infoLength) {
        StoreInfoData(b);
        ++Identity.infoCount;
      } else if (b == kReplyAck) {
        // Only a 'K' closes the record; it acknowledges nothing.
        Identity.infoComplete = 1;
        Identity.infoState = kInfoIdle;
      }
      return;
    default:
      // Any value outside the record states (only 0 is ever written) is
      // treated as no record open rather than trusted.
      Identity.infoState = kInfoIdle;
      ParseOutsideRecord(b);
      return;
  }
}

void ParseReplyBytes(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) ParseReplyByte(bytes[i]);
}

int16_t ParseReplies() {
  if (!SelectedPortOpen()) return 0;
  const size_t got = ReadPort(SelectedPortIndex, receiveBuffer, sizeof receiveBuffer);
  ParseReplyBytes(receiveBuffer, got);
  return static_cast<int16_t>(got);
}

void DiscardInput() {
  if (!SelectedPortOpen()) return;
  for (int reads = 0; reads < kDiscardReadLimit; ++reads) {
    if (ReadPort(SelectedPortIndex, receiveBuffer, sizeof receiveBuffer) == 0) return;
  }
}

int16_t DrainPort() {
  if (!SelectedPortOpen()) return 0;
  return static_cast<int16_t>(ReadPort(SelectedPortIndex, receiveBuffer, sizeof receiveBuffer));
}

void ResetIdentity() {
  Identity.deviceCode = 0;
  Identity.bootloaderVersion = 0;
  Identity.printCode = 0;
  Identity.preparationCode = 0;
}

}  // namespace kestovane

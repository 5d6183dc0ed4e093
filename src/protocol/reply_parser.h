// Everything the bootloader sends goes through one byte-wise state machine
// that keeps its state between polls, so a record may arrive split over any
// number of reads. What it learns it leaves in the one shared DeviceIdentity.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestovane {

// Reply codes of the bootloader.
inline constexpr uint8_t kReplyAck = 'K';
inline constexpr uint8_t kReplyNak = 'N';
inline constexpr uint8_t kIdentityRecord = 'V';
inline constexpr uint8_t kInfoRecord = 'R';

// Size of the area one poll reads into.
inline constexpr size_t kReceiveBufferSize = 3072;

// Upper bound on the reads of one DiscardInput: a line that never stops
// sending must not keep the caller reading for ever.
inline constexpr int kDiscardReadLimit = 64;

// Parser states of the info record.
enum InfoState : int16_t {
  kInfoIdle = 0,        // no info record open
  kInfoLength = 1,      // expecting the length byte
  kInfoSkip = 2,        // skipping the byte after the length
  kInfoData = 3,        // receiving data bytes, then the closing 'K'
};

// identityByteCount when no identity record is open.
inline constexpr uint8_t kNoIdentityRecord = 0xFF;

inline constexpr int kInfoTextLength = 24;

struct DeviceIdentity {
  // Committed identity: what the rest of the system reads.
  uint8_t bootloaderVersion = 0;
  uint8_t deviceCode = 0;
  uint8_t printCode = 0;
  uint8_t preparationCode = 0;

  // Identity being collected since the last 'V'; the next 'K' commits it.
  uint8_t pendingVersion = 0;
  uint8_t pendingDeviceCode = 0;
  uint8_t pendingPrintCode = 0;
  uint8_t pendingPreparationCode = 0;
  uint8_t identityByteCount = kNoIdentityRecord;  // 0..3: next identity byte
  uint8_t identitySeen = 0;

  // Reply flags, consumed by the command exchange.
  uint8_t ackReceived = 0;
  uint8_t nakReceived = 0;

  // Info record.
  int16_t infoState = kInfoIdle;
  int16_t infoCount = 0;
  int16_t infoLength = 0;
  char infoText[kInfoTextLength + 1] = {};
  uint8_t protectedStartRaw[3] = {};  // little-endian device address
  uint8_t protectedCountRaw[3] = {};  // little-endian length in address units
  int16_t infoComplete = 0;

  // Protected range, filled by the programming sequence from the raw fields.
  int32_t protectedStart = 0;
  int32_t protectedCount = 0;
};

// The one identity of the program.
extern DeviceIdentity Identity;

// One non-blocking read of the selected port, every byte through the parser.
// Returns the number of bytes read; 0 for a closed port, a failed read or
// nothing waiting.
int16_t ParseReplies();

// The state machine itself, for bytes that came from wherever.
void ParseReplyByte(uint8_t b);
void ParseReplyBytes(const uint8_t* bytes, size_t count);

// Reads and drops what is waiting on the selected port, until a read comes
// back empty or kDiscardReadLimit reads were made.
void DiscardInput();

// One read of the selected port, not parsed; the number of bytes dropped.
int16_t DrainPort();

// Zero in the committed identity only; the pending values and the parser
// state stay as they are.
void ResetIdentity();

// The 16-bit little-endian value of a raw protected-range field.
inline int32_t RawLittleEndian(const uint8_t raw[3]) { return raw[0] | (raw[1] << 8); }

}  // namespace kestovane

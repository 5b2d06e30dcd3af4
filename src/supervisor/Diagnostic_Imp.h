#pragma once

#include "frame/DriverChannel.h"
#include "frame/SharedInstance.h"
#include "frame/VendorCalls.h"
#include "platform/Mutex.h"

#include <pelmux/Diagnostic.h>

#include <mutex>

namespace pelmux {

// The process's single Diagnostic object. The driver is opened by the first driver operation, and
// opened again by every later one while it stays closed.
class Diagnostic_Imp final : public Varnholt::Diagnostic {
public:
    Diagnostic_Imp() = default;
    // Freed by the shared instance when the last reference goes.
    ~Diagnostic_Imp() { closeBoard(boardHandle_); }

    ResultCode getWord1(unsigned short* value) override;
    ResultCode getWord2(unsigned short* value) override;
    ResultCode getTemperature(unsigned char sensorIndex, short* temperature, int* sensorType) override;
    ResultCode getWord3(unsigned short* value) override;
    ResultCode getWord4(unsigned short* value) override;
    ResultCode getWord5(unsigned short* value) override;
    ResultCode getRecord(unsigned char* record) override;
    ResultCode getWordPair(unsigned short* first, unsigned short* second) override;
    ResultCode getWord6(unsigned short* value) override;
    ResultCode sendCommand() override;
    void release() override;

private:
    ResultCode readWord(std::uint32_t code, unsigned short* value);

    DriverLink link_;
    BoardHandle boardHandle_ = 0;
    // The object is shared by every thread of the process; one operation at a time uses its driver
    // connection and its board handle slot.
    platform::Mutex mutex_;
};

// The shared instance behind GetDiagnostic.
SharedInstance<Diagnostic_Imp>& diagnosticInstance();

// Driver requests of the diagnostics.
inline constexpr std::uint32_t diagnosticWord1Request = 0x222468;
inline constexpr std::uint32_t diagnosticWord2Request = 0x22246C;
inline constexpr std::uint32_t diagnosticRecordRequest = 0x222470;
inline constexpr std::uint32_t diagnosticWord3Request = 0x222474;
inline constexpr std::uint32_t diagnosticWord4Request = 0x222478;
inline constexpr std::uint32_t diagnosticWord5Request = 0x22247C;
inline constexpr std::uint32_t diagnosticWord6Request = 0x222480;
inline constexpr std::uint32_t diagnosticWordPairRequest = 0x222484;
inline constexpr std::uint32_t diagnosticCommandRequest = 0x22259C;

} // namespace pelmux

// The texts of the result codes: one static table of (narrow, wide) pairs indexed by the value.
#include <pelmux/ResultCode.h>

#include "frame/MessageTable.h"

namespace {

constexpr pelmux::MessagePair resultTexts[Varnholt::resultCodeCount] = {
    {"ERR_SUCCESS", L"ERR_SUCCESS"},                                           // ERR_SUCCESS
    {"Open failed", L"Open failed"},                                           // ERR_OPEN_FAILED
    {"Not supported", L"Not supported"},                                       // ERR_NOT_SUPPORTED
    {"Unknown feature", L"Unknown feature"},                                   // ERR_UNKNOWN_FEATURE
    {"Datatype mismatch", L"Datatype mismatch"},                               // ERR_DATATYPE_MISMATCH
    {"Code not exist", L"Code not exist"},                                     // ERR_CODE_NOT_EXIST
    {"Buffer size error", L"Buffer size error"},                               // ERR_BUFFER_SIZE_ERROR
    {"IoCtrl operation failed", L"IoCtrl operation failed"},                   // ERR_IOCTRL_OPERATION_FAILED
    {"Invalid data (range)", L"Invalid data (range)"},                         // ERR_INVALID_DATA_RANGE
    {"Invalid parameter (NULL pointer)", L"Invalid parameter (NULL pointer)"}, // ERR_INVALID_PARAMETER_NULL
    {"Error creating thread", L"Error creating thread"},                       // ERR_CREATING_THREAD
    {"Function in progress", L"Function in progress"},                         // ERR_FUNCTION_IN_PROGRESS
    {"Checksum incorrect when converting file",
     L"Checksum incorrect when converting file"},                                // ERR_CHECKSUM_INCORRECT
    {"Initialisation failed", L"Initialisation failed"},                         // ERR_INITIALISATION_FAILED
    {"Verify failed", L"Verify failed"},                                         // ERR_VERIFY_FAILED
    {"Failed to read data from device", L"Failed to read data from device"},     // ERR_DEVICE_READ_FAILED
    {"Failed to write data to device", L"Failed to write data to device"},       // ERR_DEVICE_WRITE_FAILED
    {"Failed to execute command", L"Failed to execute command"},                 // ERR_EXECUTE_COMMAND_FAILED
    {"Failed to access eeprom (JIDA)", L"Failed to access eeprom (JIDA)"},       // ERR_JIDA_EEPROM_ACCESS
    {"Failed to read temperature (JIDA)", L"Failed to read temperature (JIDA)"}, // ERR_JIDA_TEMPERATURE_READ
    {"Average calulation started by other process",
     L"Average calulation started by other process"},  // ERR_AVERAGE_CALC_STARTED
    {"Function not running", L"Function not running"}, // ERR_FUNCTION_NOT_RUNNING
    {"Failed to read from I2C expander (JIDA)",
     L"Failed to read from I2C expander (JIDA)"}, // ERR_I2C_EXPANDER_READ
    {"Failed to write to I2C expander (JIDA)",
     L"Failed to write to I2C expander (JIDA)"}, // ERR_I2C_EXPANDER_WRITE
    {"I2C expander initialisation failed (JIDA)",
     L"I2C expander initialisation failed (JIDA)"},                              // ERR_I2C_EXPANDER_INIT
    {"A newer version of SS is required", L"A newer version of SS is required"}, // ERR_NEWER_SS_REQUIRED
    {"A newer version of FPGA is required",
     L"A newer version of FPGA is required"}, // ERR_NEWER_FPGA_REQUIRED
    {"A newer version of Front uc is required",
     L"A newer version of Front uc is required"}, // ERR_NEWER_FRONT_UC_REQUIRED
    {"The GSM/GPRS module is not available",
     L"The GSM/GPRS module is not available"},                                 // ERR_GSM_GPRS_NOT_AVAILABLE
    {"The WLAN module is not available", L"The WLAN module is not available"}, // ERR_WLAN_NOT_AVAILABLE
    {"The Bluetooth module is not available",
     L"The Bluetooth module is not available"},                              // ERR_BLUETOOTH_NOT_AVAILABLE
    {"The GPS module is not available", L"The GPS module is not available"}, // ERR_GPS_NOT_AVAILABLE
    {"Failed to allocate memory", L"Failed to allocate memory"},             // ERR_MEMORY_ALLOCATION_FAILED
};

constexpr pelmux::MessagePair unknownResult{"Unknown result code", L"Unknown result code"};

} // namespace

namespace Varnholt {

const char* PELMUX_STDCALL GetErrorStringA(ResultCode code)
{
    return pelmux::lookupMessage(resultTexts, static_cast<std::uint32_t>(code), unknownResult).narrow;
}

const wchar_t* PELMUX_STDCALL GetErrorStringW(ResultCode code)
{
    return pelmux::lookupMessage(resultTexts, static_cast<std::uint32_t>(code), unknownResult).wide;
}

} // namespace Varnholt

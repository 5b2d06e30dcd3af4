// `pelmux identity`: every field of the unit's and the expansion board's identity EEPROMs.
#include "Cli.h"

#include <iostream>
#include <variant>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::About;
using Varnholt::ResultCode;
using TextRead = ResultCode (About::*)(char*, int);
using CountRead = ResultCode (About::*)(unsigned char*);
using FlagRead = ResultCode (About::*)(bool*);

struct Field {
    const char* key;
    const char* label;
    std::variant<TextRead, CountRead, FlagRead> read;
};

const Field unitFields[] = {
    {"pcbSerial", "PCB serial", &About::getPcbSerial},
    {"unitSerial", "Unit serial", &About::getUnitSerial},
    {"pcbArticle", "PCB article", &About::getPcbArticle},
    {"manufacturingDate", "Manufacturing date", &About::getManufacturingDate},
    {"pcbRevision", "PCB revision", &About::getPcbRevision},
    {"productRevision", "Product revision", &About::getProductRevision},
    {"productArticle", "Product article", &About::getProductArticle},
    {"ethernet", "Ethernet ports", &About::getEthernetCount},
    {"can", "CAN channels", &About::getCanCount},
    {"video", "Video inputs", &About::getVideoCount},
    {"usbHost", "USB host ports", &About::getUsbHostCount},
    {"serial", "Serial ports", &About::getSerialCount},
    {"digitalIo", "Digital inputs", &About::getDigitalIoCount},
    {"display", "Display", &About::hasDisplay},
    {"touchScreen", "Touch screen", &About::hasTouchScreen},
};

const Field expansionFields[] = {
    {"pcbSerial", "PCB serial", &About::getExpansionPcbSerial},
    {"pcbArticle", "PCB article", &About::getExpansionPcbArticle},
    {"date", "Manufacturing date", &About::getExpansionDate},
    {"pcbRevision", "PCB revision", &About::getExpansionPcbRevision},
    {"wlan", "WLAN", &About::hasWlan},
    {"gps", "GPS", &About::hasGps},
    {"gsm", "GSM/GPRS", &About::hasGsm},
    {"bluetooth", "Bluetooth", &About::hasBluetooth},
};

// Reads one field: its result, its value as JSON and as text.
struct Reading {
    ResultCode result = Varnholt::ERR_SUCCESS;
    Json value;
    std::string text;
};

Reading readField(About& about, const Field& field)
{
    Reading r;
    if (const auto* text = std::get_if<TextRead>(&field.read)) {
        char buffer[256] = {};
        r.result = (about.**text)(buffer, static_cast<int>(sizeof buffer) - 1);
        r.value = buffer;
        r.text = buffer;
    } else if (const auto* count = std::get_if<CountRead>(&field.read)) {
        unsigned char n = 0;
        r.result = (about.**count)(&n);
        r.value = n;
        r.text = std::to_string(n);
    } else {
        bool present = false;
        r.result = (about.*std::get<FlagRead>(field.read))(&present);
        r.value = present;
        r.text = present ? "yes" : "no";
    }
    return r;
}

// Reads a group of fields.
template <std::size_t N> Readings readGroup(About& about, const Field (&fields)[N])
{
    Readings readings;
    for (const auto& field : fields) {
        const Reading r = readField(about, field);
        readings.add(field.key, field.label, r.result, r.value, r.text);
    }
    return readings;
}

bool showIdentity(const Options& options)
{
    About* about = GetAbout();
    if (about == nullptr) {
        std::cerr << "pelmux identity: no memory for the About object\n";
        return false;
    }
    const Readings unit = readGroup(*about, unitFields);
    const Readings expansion = readGroup(*about, expansionFields);
    about->release();

    if (options.json) {
        printJson({{"unit", unit.json}, {"expansion", expansion.json}});
    } else {
        std::cout << "Unit EEPROM (0xAE)\n";
        printTable(unit.rows);
        std::cout << "Expansion board EEPROM (0xA4)\n";
        printTable(expansion.rows);
        if (!unit.all || !expansion.all)
            std::cout << "A field that cannot be read is missing from its EEPROM, or the EEPROM does not "
                         "answer (is a unit running? see `pelmux sim`).\n";
    }
    return unit.all && expansion.all;
}

} // namespace PELMUX_FILE_SCOPE

void addIdentityCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    app.add_subcommand("identity", "Every field of the unit's and the expansion board's identity EEPROMs")
        ->callback([&] { exitCode = showIdentity(options) ? 0 : 1; });
}

TourStep identityTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Unit identity", [] { return showIdentity(Options{}); }};
}

} // namespace pelmux::cli

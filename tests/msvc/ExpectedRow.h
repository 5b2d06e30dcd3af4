// One row of the shared expectation table (tests/shared/UnitExpectations.h) as plain C++14 data, for
// the application built in Microsoft's ABI (Client.cpp), which has neither a C++20 compiler nor a
// standard library. ExpectedRows.cpp writes the rows themselves (ExpectedRows.h) from the shared
// table and the message texts from the Linux build; nothing here holds an expected value.
#pragma once

namespace pelmux {
namespace msvc {

struct ExpectedRow {
    const char* what;
    const char* factory;
    int slot;
    const char* ins;      // 'w' a word each, "d" a double, "dw" a double and a word
    double in[6];         // the arguments' values
    const char* outs;     // one letter an output: b B h H i I d f, s a 64-byte text and its length
    const char* setup[4]; // unit commands before the call, up to the first null
    int code;             // the result code
    double expected[6];   // the outputs when the code is ERR_SUCCESS
    int expectedCount;
    double tolerance;
    const char* text;      // a text output
    const char* statePath; // afterwards, the unit's value there ("" for none)...
    const char* state;     // ...as compact JSON
};

// What a message function of the Linux build answers for a code.
struct ExpectedText {
    const char* function; // "GetErrorStringA", "GetErrorStringW", ...
    unsigned code;
    const char* text;
};

} // namespace msvc
} // namespace pelmux

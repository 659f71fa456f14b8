#pragma once

#include "tests/fuzz/FuzzSupport.h"

#include <cstdint>
#include <vector>

// How a StateMachineFuzz input reads: a set-up byte, then a sequence of
// steps, each an opcode byte (taken modulo the number of steps) and its
// arguments. A port argument p names COM(1 + p % 3).
namespace isp::fuzz::state_machine {

// Bits of the set-up byte: how the system looks when the program starts.
enum Setup : std::uint8_t {
    Com3Absent = 1,           // COM3 is unplugged (it may appear later)
    Com2Held = 2,             // another program holds COM2
    Com1RejectsMarkSpace = 4, // COM1's adapter cannot do mark and space parity
    Com1Absent = 8,           // COM1 is unplugged
};

enum class Step : std::uint8_t {
    PickPort,         // byte: entry of the port box the user picks
    OpenUart,         // the user clicks "Uart:close" / "Uart:open"
    LoadGood,         // byte: which of the good images the user opens
    LoadWrongLength,  // the user opens a file of the wrong length
    LoadUnreadable,   // the user opens a file that cannot be read
    LoadCancelled,    // the user cancels the file dialog
    Exit,             // the user clicks "exit"; the run goes on regardless
    Request,          // port, page, split, form: see RequestForm
    Raw,              // port, n = 1 + byte % 8, parity mask, n bytes
    RunMillis,        // byte: the loop runs 2 * byte milliseconds
    RunMicros,        // word: the loop runs that many microseconds
    Busy,             // word: the program is busy that many microseconds
    ReadingTime,      // byte: a message stays up 10 * byte milliseconds
    Stall,            // port, on/off byte (bit 0), delay word in microseconds
    Vanish,           // port, delay word
    Reappear,         // port, delay word
    Held,             // port, on/off byte, delay word
    Denied,           // port, on/off byte
    RejectsMarkSpace, // port, on/off byte
    Count
};

// The form byte of a request: bits 0-1 pick valid (0, 1), c2 above 112 (2)
// or c3 above 111 (3); bit 2 splits it over two sends with a gap, bit 3 has
// the program busy until it has arrived (it bunches), bit 4 sends one byte
// with parity bit 0. Bits 5-7 (k) tune these: split after 1 + k % 3 bytes,
// a gap of 1 + k milliseconds, the wrong parity on byte k % 4.
enum RequestForm : std::uint8_t {
    Valid = 0,
    FirstAddendTooLarge = 2,
    SecondAddendTooLarge = 3,
    Split = 4,
    Bunched = 8,
    ParityError = 16,
};

class Writer {
public:
    explicit Writer(int setup = 0) { in.byte(setup); }

    Writer& pickPort(int entry)
    {
        step(Step::PickPort).byte(entry);
        return *this;
    }
    Writer& openUart()
    {
        step(Step::OpenUart);
        return *this;
    }
    Writer& loadGood(int image)
    {
        step(Step::LoadGood).byte(image);
        return *this;
    }
    Writer& loadWrongLength()
    {
        step(Step::LoadWrongLength);
        return *this;
    }
    Writer& loadUnreadable()
    {
        step(Step::LoadUnreadable);
        return *this;
    }
    Writer& loadCancelled()
    {
        step(Step::LoadCancelled);
        return *this;
    }
    Writer& exit()
    {
        step(Step::Exit);
        return *this;
    }
    Writer& request(int port, int page, int form = Valid, int tune = 0, int split = 0)
    {
        step(Step::Request).byte(port - 1).byte(page).byte(split).byte(form | (tune << 5));
        return *this;
    }
    Writer& raw(int port, const std::vector<std::uint8_t>& bytes, std::uint8_t parityMask = 0xFF)
    {
        step(Step::Raw).byte(port - 1).byte(static_cast<int>(bytes.size() - 1)).byte(parityMask).bytes(bytes);
        return *this;
    }
    Writer& runMillis(int ms)
    {
        step(Step::RunMillis).byte(ms / 2);
        return *this;
    }
    Writer& runMicros(int us)
    {
        step(Step::RunMicros).word(us);
        return *this;
    }
    Writer& busy(int us)
    {
        step(Step::Busy).word(us);
        return *this;
    }
    Writer& readingTime(int ms)
    {
        step(Step::ReadingTime).byte(ms / 10);
        return *this;
    }
    Writer& stall(int port, bool on, int delayUs = 0)
    {
        step(Step::Stall).byte(port - 1).byte(on).word(delayUs);
        return *this;
    }
    Writer& vanish(int port, int delayUs = 0)
    {
        step(Step::Vanish).byte(port - 1).word(delayUs);
        return *this;
    }
    Writer& reappear(int port, int delayUs = 0)
    {
        step(Step::Reappear).byte(port - 1).word(delayUs);
        return *this;
    }
    Writer& held(int port, bool on, int delayUs = 0)
    {
        step(Step::Held).byte(port - 1).byte(on).word(delayUs);
        return *this;
    }
    Writer& denied(int port, bool on)
    {
        step(Step::Denied).byte(port - 1).byte(on);
        return *this;
    }
    Writer& rejectsMarkSpace(int port, bool on)
    {
        step(Step::RejectsMarkSpace).byte(port - 1).byte(on);
        return *this;
    }

    // A device that behaves: asks for each page and waits for it.
    Writer& upload(int port, int firstPage, int pages)
    {
        for (int page = firstPage; page < firstPage + pages; ++page)
            request(port, page).runMillis(70);
        return *this;
    }

    InputWriter in;

private:
    InputWriter& step(Step s) { return in.byte(static_cast<int>(s)); }
};

} // namespace isp::fuzz::state_machine

#include "serial/posix/ParityErrorDecoder.h"

namespace isp {

void ParityErrorDecoder::feed(std::span<const std::uint8_t> raw, std::string& out)
{
    for (const std::uint8_t byte : raw) {
        switch (state_) {
        case State::Plain:
            if (byte == 0xFF)
                state_ = State::SawFF;
            else
                out.push_back(static_cast<char>(byte));
            break;
        case State::SawFF:
            if (byte == 0x00) {
                state_ = State::SawFF00;
            } else {
                // FF FF is an escaped data byte FF. Any other follower cannot
                // come from the line discipline; pass both bytes on unchanged.
                out.push_back(static_cast<char>(0xFF));
                if (byte != 0xFF)
                    out.push_back(static_cast<char>(byte));
                state_ = State::Plain;
            }
            break;
        case State::SawFF00:
            // FF 00 x: x arrived with a parity or framing error (or x == 00: a break).
            out.push_back(ErrorCharacter);
            state_ = State::Plain;
            break;
        }
    }
}

} // namespace isp

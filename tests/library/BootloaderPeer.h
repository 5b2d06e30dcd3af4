// A scripted STM32 bootloader on a pseudo-terminal that PELMUX_ROOT/COM1 links to: it answers the
// commands the flasher sends, keeps a flash, records every byte and every WRITE MEMORY frame it
// receives, and can be told to answer wrongly.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pelmux::test {

struct PeerOptions {
    int getCount = 11; // n of the GET answer (the codes that follow)
    int idCount = 1;   // n of the GET ID answer
    std::uint16_t productId = 0x410;
    std::uint32_t flashBytes = 0x20000;
    int nackWriteAt = -1;   // this WRITE MEMORY (from 0) is refused after its data
    int corruptReadAt = -1; // this READ MEMORY answers its first byte flipped
    int silentReadAt = -1;  // this READ MEMORY answers no data
    bool silent = false;    // answers nothing at all
};

struct WriteFrame {
    std::uint32_t address;
    std::uint8_t n;
    std::vector<std::uint8_t> payload; // the N + 1 bytes, fill included
    bool checksumOk;
};

class BootloaderPeer {
public:
    static constexpr std::uint32_t flashStart = 0x08000000;

    BootloaderPeer(const std::string& root, PeerOptions options) : options_(options)
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master_, 0);
        ::grantpt(master_);
        ::unlockpt(master_);
        slavePath_ = ::ptsname(master_);
        // Held open so that the line lives on while the flasher opens and closes it.
        slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(slave_, 0);
        link_ = root + "/COM1";
        std::filesystem::remove(link_);
        std::filesystem::create_symlink(slavePath_, link_);
        flash_.assign(options_.flashBytes, 0xFF);
        thread_ = std::thread([this] { serve(); });
    }

    ~BootloaderPeer()
    {
        stop_ = true;
        thread_.join();
        std::error_code ignored;
        std::filesystem::remove(link_, ignored);
        ::close(slave_);
        ::close(master_);
    }

    int slave() const { return slave_; }

    std::vector<std::uint8_t> received()
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::vector<WriteFrame> writes()
    {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    std::vector<std::uint32_t> readCounts()
    {
        std::lock_guard lock(mutex_);
        return readCounts_;
    }
    int erases()
    {
        std::lock_guard lock(mutex_);
        return erases_;
    }
    std::vector<std::uint8_t> flash(std::uint32_t count)
    {
        std::lock_guard lock(mutex_);
        return {flash_.begin(), flash_.begin() + count};
    }
    void setFlash(const std::vector<std::uint8_t>& bytes)
    {
        std::lock_guard lock(mutex_);
        std::copy(bytes.begin(), bytes.end(), flash_.begin());
    }
    void clearReceived()
    {
        std::lock_guard lock(mutex_);
        received_.clear();
    }

private:
    static constexpr std::uint8_t ack = 0x79;
    static constexpr std::uint8_t nack = 0x1F;

    // The next byte from the flasher; -1 once the peer stops.
    int next()
    {
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            std::uint8_t byte = 0;
            if (::read(master_, &byte, 1) == 1) {
                std::lock_guard lock(mutex_);
                received_.push_back(byte);
                return byte;
            }
        }
        return -1;
    }
    bool nextInto(std::uint8_t& byte)
    {
        const int b = next();
        byte = static_cast<std::uint8_t>(b);
        return b >= 0;
    }
    void put(std::vector<std::uint8_t> bytes)
    {
        if (!options_.silent && ::write(master_, bytes.data(), bytes.size()) < 0)
            ADD_FAILURE() << "the peer could not answer: " << errno;
    }

    bool address(std::uint32_t& value)
    {
        std::uint8_t b[5];
        for (auto& x : b)
            if (!nextInto(x))
                return false;
        value = (std::uint32_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
        const bool ok = (b[0] ^ b[1] ^ b[2] ^ b[3]) == b[4] && value >= flashStart &&
                        value < flashStart + options_.flashBytes;
        put({ok ? ack : nack});
        return ok;
    }

    void serve()
    {
        int writeIndex = 0;
        int readIndex = 0;
        for (;;) {
            const int code = next();
            if (code < 0)
                return;
            if (code == 0x7F) {
                put({ack});
                continue;
            }
            const int complement = next();
            if (complement < 0)
                return;
            if ((code ^ complement) != 0xFF) {
                put({nack});
                continue;
            }
            switch (code) {
            case 0x00: {
                std::vector<std::uint8_t> answer{ack, static_cast<std::uint8_t>(options_.getCount), 0x22};
                const std::uint8_t codes[] = {0x00, 0x01, 0x02, 0x11, 0x21, 0x31,
                                              0x43, 0x63, 0x73, 0x82, 0x92};
                for (int i = 0; i < options_.getCount; ++i)
                    answer.push_back(i < 11 ? codes[i] : static_cast<std::uint8_t>(0xA0 + i));
                answer.push_back(ack);
                put(answer);
                break;
            }
            case 0x01:
                put({ack, 0x22, 0x00, 0x00, ack});
                break;
            case 0x02: {
                std::vector<std::uint8_t> answer{ack, static_cast<std::uint8_t>(options_.idCount),
                                                 static_cast<std::uint8_t>(options_.productId >> 8),
                                                 static_cast<std::uint8_t>(options_.productId)};
                for (int i = 1; i < options_.idCount; ++i)
                    answer.push_back(0);
                answer.push_back(ack);
                put(answer);
                break;
            }
            case 0x43: {
                put({ack});
                std::uint8_t a = 0, b = 0;
                if (!nextInto(a) || !nextInto(b))
                    return;
                if (a == 0xFF && b == 0x00) {
                    std::lock_guard lock(mutex_);
                    ++erases_;
                    std::fill(flash_.begin(), flash_.end(), 0xFF);
                }
                put({a == 0xFF && b == 0x00 ? ack : nack});
                break;
            }
            case 0x11: {
                put({ack});
                std::uint32_t at = 0;
                std::uint8_t n = 0, notN = 0;
                if (!address(at) || !nextInto(n) || !nextInto(notN))
                    break;
                const std::uint32_t count = n + 1u;
                const int index = readIndex++;
                if ((n ^ notN) != 0xFF || at + count > flashStart + options_.flashBytes) {
                    put({nack});
                    break;
                }
                std::vector<std::uint8_t> answer{ack};
                {
                    std::lock_guard lock(mutex_);
                    readCounts_.push_back(count);
                    answer.insert(answer.end(), flash_.begin() + (at - flashStart),
                                  flash_.begin() + (at - flashStart + count));
                }
                if (index == options_.corruptReadAt)
                    answer[1] ^= 0x01;
                if (index == options_.silentReadAt)
                    answer.resize(1);
                put(answer);
                break;
            }
            case 0x31: {
                put({ack});
                std::uint32_t at = 0;
                std::uint8_t n = 0;
                if (!address(at) || !nextInto(n))
                    break;
                WriteFrame frame{at, n, {}, false};
                std::uint8_t sum = n;
                for (int i = 0; i <= n; ++i) {
                    std::uint8_t b = 0;
                    if (!nextInto(b))
                        return;
                    frame.payload.push_back(b);
                    sum ^= b;
                }
                std::uint8_t checksum = 0;
                if (!nextInto(checksum))
                    return;
                frame.checksumOk = sum == checksum;
                const int index = writeIndex++;
                // Real devices take whole words only.
                const bool ok = frame.checksumOk && (n + 1) % 4 == 0 && index != options_.nackWriteAt &&
                                at + n + 1 <= flashStart + options_.flashBytes;
                {
                    std::lock_guard lock(mutex_);
                    if (ok)
                        std::copy(frame.payload.begin(), frame.payload.end(),
                                  flash_.begin() + (at - flashStart));
                    writes_.push_back(std::move(frame));
                }
                put({ok ? ack : nack});
                break;
            }
            default:
                put({nack});
            }
        }
    }

    PeerOptions options_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string link_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::uint8_t> received_;
    std::vector<WriteFrame> writes_;
    std::vector<std::uint32_t> readCounts_;
    int erases_ = 0;
    std::vector<std::uint8_t> flash_;
    std::thread thread_;
};

} // namespace pelmux::test

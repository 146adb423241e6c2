// The simulator's settings, data blocks and serving thread.
#include "sim/simulator.h"

namespace plcsim {

Simulator::Simulator(std::unique_ptr<Line> line) : line_(std::move(line)) {}

Simulator::~Simulator() {
    Stop();
}

void Simulator::set_link(const LinkSettings& link) {
    std::lock_guard lock(mutex_);
    link_ = link;
}

LinkSettings Simulator::link() const {
    std::lock_guard lock(mutex_);
    return link_;
}

void Simulator::set_faults(const Faults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

void Simulator::SetTelegramHook(TelegramHook hook) {
    std::lock_guard lock(mutex_);
    telegram_hook_ = std::move(hook);
}

Faults Simulator::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void Simulator::SetPacing(uint32_t baud, uint32_t bits_per_char) {
    std::lock_guard lock(mutex_);
    line_->SetPacing(baud, bits_per_char);
}

void Simulator::DeclareBlock(uint8_t db, uint16_t words) {
    std::lock_guard lock(mutex_);
    blocks_.Declare(db, words);
}

void Simulator::SetCreateOnDemand(bool on) {
    std::lock_guard lock(mutex_);
    blocks_.set_create_on_demand(on);
}

void Simulator::SetWord(uint8_t db, uint16_t index, uint16_t value) {
    std::lock_guard lock(mutex_);
    blocks_.Prepare(db);
    blocks_.SetWord(db, index, value);
}

uint16_t Simulator::Word(uint8_t db, uint16_t index) const {
    std::lock_guard lock(mutex_);
    return blocks_.Word(db, index);
}

bool Simulator::BlockExists(uint8_t db) const {
    std::lock_guard lock(mutex_);
    return blocks_.Exists(db);
}

bool Simulator::LoadBlocks(const std::string& path, std::string* error) {
    std::lock_guard lock(mutex_);
    return blocks_.Load(path, error);
}

bool Simulator::SaveBlocks(const std::string& path, std::string* error) const {
    std::lock_guard lock(mutex_);
    return blocks_.Save(path, error);
}

void Simulator::QueueTelegram(const Bytes& telegram) {
    std::lock_guard lock(mutex_);
    pending_.push_back({telegram, false});
}

std::vector<ReceivedTelegram> Simulator::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void Simulator::ClearReceived() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

void Simulator::Start() {
    if (thread_.joinable()) return;
    own_stop_ = false;
    thread_ = std::thread([this] { Serve(own_stop_); });
}

void Simulator::Stop() {
    own_stop_ = true;
    if (thread_.joinable()) thread_.join();
}

Bytes FrameTelegram(const Bytes& payload) {
    Bytes framed;
    for (uint8_t byte : payload) {
        framed.push_back(byte);
        if (byte == 0x10) framed.push_back(0x10);
    }
    framed.push_back(0x10);
    framed.push_back(0x03);
    return framed;
}

uint8_t BlockCheck(const Bytes& framed) {
    uint8_t bcc = 0;
    for (uint8_t byte : framed)
        bcc ^= byte;
    return bcc;
}

}  // namespace plcsim

// The records shared with the host must have exactly the layout a Windows
// host was built against: the same on both Windows targets for the records of
// fixed-width fields, wider on 64-bit Windows for those holding a pointer
// (natural alignment, 8-byte pointers). Checked at compile time there.
#include <cstddef>

#include "morvane/morvane.h"

#if defined(_WIN32)
static_assert(sizeof(LineParameters) == 8);

static_assert(offsetof(PortSettings, port_name) == 0);
static_assert(offsetof(PortSettings, line) == 12);
static_assert(offsetof(PortSettings, line_control) == 20);
static_assert(offsetof(PortSettings, is_3964r) == 22);
static_assert(sizeof(PortSettings) == 24);

static_assert(offsetof(ChannelArea, internal_timeout) == 0);
static_assert(offsetof(ChannelArea, port_handle) == 4);
static_assert(offsetof(ChannelArea, port_settings) == 8);
static_assert(offsetof(ChannelArea, reply_data) == 32);
static_assert(offsetof(ChannelArea, saved_thread_priority) == 4128);
static_assert(sizeof(ChannelArea) == 4132);

static_assert(offsetof(StartBlock, port_name) == 0);
static_assert(offsetof(StartBlock, open_now) == 12);
static_assert(offsetof(StartBlock, external_timeout) == 16);
static_assert(offsetof(StartBlock, line) == 20);
static_assert(sizeof(StartBlock) == 28);

static_assert(offsetof(ChangeBlock, port_name) == 0);
static_assert(offsetof(ChangeBlock, timeout) == 12);
static_assert(offsetof(ChangeBlock, line) == 16);
static_assert(sizeof(ChangeBlock) == 24);

static_assert(offsetof(GateAddress, parsed) == 0);
static_assert(offsetof(GateAddress, class_letter) == 4);
static_assert(offsetof(GateAddress, packed_address) == 8);
static_assert(offsetof(GateAddress, bit_number) == 12);
static_assert(offsetof(GateAddress, width) == 16);
static_assert(sizeof(GateAddress) == 20);
#endif

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(TevRequest, channel_area) == 0);
static_assert(offsetof(TevRequest, command_code) == 4);
static_assert(offsetof(TevRequest, channel_number) == 8);
static_assert(offsetof(TevRequest, reserved) == 12);
static_assert(offsetof(TevRequest, parameter_block) == 16);
static_assert(sizeof(TevRequest) == 20);

static_assert(offsetof(InfoBlock, first_word) == 0);
static_assert(offsetof(InfoBlock, description) == 4);
static_assert(offsetof(InfoBlock, banner) == 8);
static_assert(offsetof(InfoBlock, channel_area_size) == 12);
static_assert(offsetof(InfoBlock, fifth_word) == 16);
static_assert(offsetof(InfoBlock, defaults) == 20);
static_assert(offsetof(InfoBlock, last_word) == 28);
static_assert(sizeof(InfoBlock) == 32);

static_assert(offsetof(ParseBlock, address) == 0);
static_assert(offsetof(ParseBlock, gate_type) == 8);
static_assert(offsetof(ParseBlock, gate) == 16);
static_assert(sizeof(ParseBlock) == 36);

static_assert(offsetof(TransferBlock, gate) == 8);
static_assert(offsetof(TransferBlock, count) == 32);
static_assert(offsetof(TransferBlock, data) == 40);
static_assert(sizeof(TransferBlock) == 44);

static_assert(offsetof(BrowseBlock, address_buffer) == 0);
static_assert(offsetof(BrowseBlock, owner_window) == 4);
static_assert(sizeof(BrowseBlock) == 8);
#endif

#if defined(_WIN64)
static_assert(offsetof(TevRequest, channel_area) == 0);
static_assert(offsetof(TevRequest, command_code) == 8);
static_assert(offsetof(TevRequest, channel_number) == 12);
static_assert(offsetof(TevRequest, reserved) == 16);
static_assert(offsetof(TevRequest, parameter_block) == 24);
static_assert(sizeof(TevRequest) == 32);

static_assert(offsetof(InfoBlock, first_word) == 0);
static_assert(offsetof(InfoBlock, description) == 8);
static_assert(offsetof(InfoBlock, banner) == 16);
static_assert(offsetof(InfoBlock, channel_area_size) == 24);
static_assert(offsetof(InfoBlock, fifth_word) == 28);
static_assert(offsetof(InfoBlock, defaults) == 32);
static_assert(offsetof(InfoBlock, last_word) == 40);
static_assert(sizeof(InfoBlock) == 48);

static_assert(offsetof(ParseBlock, address) == 0);
static_assert(offsetof(ParseBlock, gate_type) == 12);
static_assert(offsetof(ParseBlock, gate) == 20);
static_assert(sizeof(ParseBlock) == 40);

static_assert(offsetof(TransferBlock, gate) == 8);
static_assert(offsetof(TransferBlock, count) == 32);
static_assert(offsetof(TransferBlock, data) == 40);
static_assert(sizeof(TransferBlock) == 48);

static_assert(offsetof(BrowseBlock, address_buffer) == 0);
static_assert(offsetof(BrowseBlock, owner_window) == 8);
static_assert(sizeof(BrowseBlock) == 16);
#endif

// Every build: the area the host allocates holds the driver's record.
static_assert(sizeof(ChannelArea) <= MORVANE_CHANNEL_AREA_SIZE);

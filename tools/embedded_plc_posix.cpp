#include <cstdio>
#include <filesystem>

#include "frame_option.h"
#include "line_session.h"
#include "progress.h"
#include "sim/replace_file.h"
#include "sim/simulator.h"

namespace morvane::tool {
namespace {

class PtyPlc final : public EmbeddedPlc {
  public:
    PtyPlc(std::unique_ptr<plcsim::Simulator> sim, std::string blocks, bool save)
        : sim_(std::move(sim)), blocks_(std::move(blocks)), save_(save) {}

    std::string PortName() const override { return PortNameOf(sim_->path()); }
    void SetProcedure(bool is_3964r) override {
        plcsim::LinkSettings link = sim_->link();
        link.is_3964r = is_3964r;
        sim_->set_link(link);
    }
    bool Stop(std::string* error) override {
        sim_->Stop();
        return !save_ || sim_->SaveBlocks(blocks_, error);
    }

  private:
    std::unique_ptr<plcsim::Simulator> sim_;
    std::string blocks_;
    bool save_;  // the block file was read whole, or is new
};

}  // namespace

std::unique_ptr<EmbeddedPlc> StartEmbeddedPlc(const SessionOptions& options,
                                              const LineParameters& settings, std::string* error) {
    // Found before anything goes on the line, not when the blocks are saved.
    if (!options.sim_blocks.empty() && !plcsim::CanReplace(options.sim_blocks, error)) {
        *error = "--sim-blocks: " + *error;
        return nullptr;
    }
    auto line = plcsim::Line::OpenPty(error);
    if (!line) return nullptr;
    if (options.pace) line->SetPacing(settings.baud_rate, BitsPerCharacter(settings));
    auto sim = std::make_unique<plcsim::Simulator>(std::move(line));
    if (!options.sim_blocks.empty() && std::filesystem::exists(options.sim_blocks) &&
        !sim->LoadBlocks(options.sim_blocks, error))
        return nullptr;  // a file that could not be read is never written over
    if (options.sim_trace)
        // Whole lines, clear of a progress line and of the line trace's.
        sim->SetTraceSink([](const std::string& text) { WriteErrorLine("plc " + text); });
    sim->Start();
    return std::make_unique<PtyPlc>(std::move(sim), options.sim_blocks,
                                    !options.sim_blocks.empty());
}

}  // namespace morvane::tool

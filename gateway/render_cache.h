// A text rendered at most once per period and shared by every reader in between, so that any
// number of scrapers or viewers costs one rendering (and one copy of the text) per period.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace gateway {

class render_cache {
  public:
    explicit render_cache(std::chrono::milliseconds period) : period_(period) {}

    // The text rendered within the period, or a fresh rendering. Readers arriving while one
    // renders wait for it rather than render again.
    std::shared_ptr<const std::string> get(const std::function<std::string()>& render) {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        if (!text_ || now - made_ >= period_) {
            text_ = std::make_shared<const std::string>(render());
            made_ = now;
        }
        return text_;
    }

  private:
    const std::chrono::milliseconds period_;
    std::mutex mutex_;
    std::shared_ptr<const std::string> text_;
    std::chrono::steady_clock::time_point made_;
};

}  // namespace gateway

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Qt application object of a test program: made before the first test and gone after the
// last, before the process's exit handlers run (Qt's own statics go then). App is
// QCoreApplication or QApplication; the test includes its header.
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kv::test {

template <class App>
class QtAppEnvironment : public ::testing::Environment {
  public:
    explicit QtAppEnvironment(const char* name) : name_(name) {}
    void SetUp() override {
        argv_[0] = name_.data();
        app_ = std::make_unique<App>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

  private:
    // Qt keeps argc and argv for the application's whole life.
    int argc_ = 1;
    std::string name_;
    char* argv_[2] = {nullptr, nullptr};
    std::unique_ptr<App> app_;
};

template <class App>
::testing::Environment* AddQtAppEnvironment(const char* name) {
    return ::testing::AddGlobalTestEnvironment(new QtAppEnvironment<App>(name));
}

}  // namespace kv::test

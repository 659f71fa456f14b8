#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

// One QApplication for a whole test program with windows, made before the
// first test and destroyed after the last, once every window is gone.
// Include it in exactly one source file of the test program.
namespace isp::test {

class WidgetApplication final : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[5] = "test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] inline ::testing::Environment* const widgetApplication =
    ::testing::AddGlobalTestEnvironment(new WidgetApplication);

} // namespace isp::test

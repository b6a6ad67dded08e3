// A window the UI layer knows without HighGUI: each test gets a fresh context,
// made the active one, and feeds events straight into the real mouse handler.
#pragma once

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "ui/ui.hpp"

constexpr const char* kHeadlessWindow = "headless";

class HeadlessWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ctx = &ui::registerContext(kHeadlessWindow);
        ui::setActiveWindow(kHeadlessWindow);
    }
    void send(int event, int x, int y) { ui::mouseHandler(event, x, y, 0, ctx); }
    void send(int event, cv::Point p) { send(event, p.x, p.y); }
    ui::WindowContext* ctx = nullptr;
};

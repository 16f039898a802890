// The menu's sound-effect player over sonvex32: one digital driver found by
// a fall-back search over output paths and rates, and a pool of sample
// handles on which effects play without waiting.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sonvex.h"

constexpr int kSampleHandles = 14;
constexpr size_t kDeviceTextSize = 128;

extern HDIGDRIVER DigitalDriver;
extern HSAMPLE SampleHandles[kSampleHandles];
extern int32_t SampleCount;
extern int32_t SampleBaseRates[kSampleHandles];
extern int32_t OutputRate;
extern int32_t OutputBits;
extern int32_t OutputChannels;

void SoundStartup();
HDIGDRIVER OpenDigitalOutput();
void PlayEffect(const void* image, int32_t volume, int32_t pan, int32_t pitch, int32_t loops);
void SoundShutdown();

// The rate an effect plays at for a pitch: 63 keeps the native rate, each
// step is 1/64 of it.
int32_t PitchedRate(int32_t base_rate, int32_t pitch);

// "Device: " and the driver's description, cut to fit `size` bytes with
// its NUL however long the library's text is.
void DeviceDescription(HDIGDRIVER driver, char* text, size_t size);

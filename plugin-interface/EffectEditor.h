// The interface of an optional editor object. No editor is attached in this
// system; the dispatcher reaches one only when `editor` is set.
#pragma once

#include <cstdint>

// The key record that the dispatcher fills for the editor's key opcodes.
struct EditorKeyCode {
  int32_t character;
  uint8_t virtualKey;
  uint8_t modifier;
};

class EffectEditor {
 public:
  virtual ~EffectEditor() = default;
  virtual int32_t getRect(void* rect) = 0;
  virtual int32_t open(void* parentWindow) = 0;
  virtual void close() = 0;
  virtual void idle() = 0;
  virtual int32_t keyDown(EditorKeyCode& key) = 0;
  virtual int32_t keyUp(EditorKeyCode& key) = 0;
  virtual int32_t knobMode(int32_t mode) = 0;
};

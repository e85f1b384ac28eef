-- Check and report helpers shared by the Lua scripts of the Ardour test.
local M = { failures = 0, track = "input" }

local kPoll = 50000 -- microseconds between polls
local kTolerance = 1e-6 -- normalised values cross Ardour as 32-bit floats

function M.close(a, b) return math.abs(a - b) <= kTolerance end

function M.check(ok, what)
  if not ok then
    M.failures = M.failures + 1
    print("FAIL: " .. what)
  end
  return ok
end

-- Prints what Ardour reports and checks it against the expected value, if
-- there is one.
function M.report(what, got, want)
  if want == nil then
    print(string.format("ardour reports %s: %s", what, tostring(got)))
    return
  end
  local ok = tostring(got) == tostring(want)
  print(string.format("ardour reports %s: %s%s", what, tostring(got),
      ok and "" or "  (want " .. tostring(want) .. ")"))
  M.check(ok, what)
end

-- The same for a normalised parameter value, within float precision.
function M.report_value(what, got, want)
  local ok = M.close(got, want)
  print(string.format("ardour reports %s: %.6f%s", what, got,
      ok and "" or string.format("  (want %.6f)", want)))
  M.check(ok, what)
end

-- Polls `done` until it answers true or `seconds` have passed.
function M.wait_until(seconds, done)
  for _ = 1, math.ceil(seconds * 1e6 / kPoll) do
    if done() then return true end
    ARDOUR.LuaAPI.usleep(kPoll)
  end
  return done()
end

-- Selects the dummy audio backend: no sound card, input ports of silence.
function M.use_dummy_backend()
  local backend = AudioEngine:set_backend("None (Dummy)", "", "")
  backend:set_device_name("Silence")
end

-- A parameter's normalised value as Ardour reads it from the plug-in.
function M.param(proc, index)
  return (ARDOUR.LuaAPI.get_processor_param(proc, index, false))
end

-- The eleven values given from argument `first` on: the number at the start
-- of each, without a unit after it ("12/16" is 12, "7st" is 7).
function M.values(args, first)
  local values = {}
  for i = 0, 10 do
    values[i] = tonumber(args[first + i]:match("^[-+]?[0-9.e]+"))
  end
  return values
end

-- The names of a plug-in's control inputs, in order.
function M.control_inputs(plugin)
  local names = {}
  for i = 0, plugin:parameter_count() - 1 do
    -- Lua gets the reference argument `ok` back in a table of arguments.
    local id, arguments = plugin:nth_parameter(i, false)
    if arguments[2] and plugin:parameter_is_control(id) and
        plugin:parameter_is_input(id) then
      names[#names + 1] = plugin:parameter_label(id)
    end
  end
  return names
end

-- Ends a script early when the plug-in is missing from the session.
function M.give_up(script, what)
  M.check(false, what)
  close_session()
  M.finish(script)
end

-- Prints the verdict of one script as its last line, then leaves.
function M.finish(script)
  print(string.format("korvane-ardour: %s %s", script,
      M.failures == 0 and "PASS" or "FAIL"))
  quit()
end

return M

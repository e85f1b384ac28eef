-- Reopens a saved session and reports the parameter values that korvane
-- holds after Ardour restored them: the values that an export renders with.
--
--   ardour7-lua reload.lua DIR NAME TEMPO V0 .. V10
-- with the arguments given to session.lua. Ardour saves the values that
-- getParameter answered and restores them through setParameter while
-- korvane's loop length is still its initial 44100 samples. Values that
-- come back unchanged are checked; "st rate", "pos" and "len", which
-- korvane converts against that initial loop, are compared and reported,
-- and count as failures only when the environment sets
-- KORVANE_ARDOUR_STRICT_RELOAD=1 (see README-section.md).
local here = debug.getinfo(1, "S").source:match("^@(.*/)") or "./"
local E = dofile(here .. "expect.lua")
local H = dofile(here .. "harness.lua")

local kSettle = 10.0
local kProcessed = 8192 -- samples to let the engine run after loading
local kDrifting = { [2] = true, [4] = true, [6] = true }
local strict = os.getenv("KORVANE_ARDOUR_STRICT_RELOAD") == "1"

local dir, name, tempo = arg[1], arg[2], tonumber(arg[3])
local values = {}
for i = 0, 10 do values[i] = tonumber(arg[4 + i]) end

H.use_dummy_backend()
load_session(dir, name)
local proc = Session:route_by_name(H.track):nth_plugin(0)
if proc:isnil() then
  H.give_up("reload", "korvane is on the track after reload")
  return
end
H.report("name after reload", proc:name(), E.name)

local loop = E.loop_length(tempo, E.sixteenths(values[0]))
-- korvane re-derives its loop on its first processed samples.
local start = AudioEngine:processed_samples()
H.check(H.wait_until(kSettle, function()
  return AudioEngine:processed_samples() - start >= kProcessed
end), "Ardour ran korvane after reload")

for i = 0, 10 do
  local got, want = H.param(proc, i), E.readback(i, values[i], loop)
  local same = H.close(got, want)
  local what = string.format("%s after reload", E.parameters[i + 1])
  if kDrifting[i] and not strict then
    print(string.format("ardour reports %s: %.6f%s", what, got, same and "" or
        string.format("  (before saving %.6f: changed by save and reload)",
            want)))
  else
    H.report_value(what, got, want)
  end
end
close_session()
H.finish("reload")

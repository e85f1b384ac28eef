-- Reopens a saved session three times in a row, saving it again each time,
-- and checks that korvane holds the values it was saved with: the values an
-- export renders with.
--
--   ardour7-lua reload.lua FORM DIR NAME RATE TEMPO V0 .. V10
-- with the arguments given to session.lua but FRAMES. Ardour saves the values
-- that the VST 2 library's getParameter answered and restores them through
-- setParameter on a new instance before korvane has processed any audio,
-- and before the resume at which korvane adopts the session's rate, which
-- keeps them as they were set; it saves the LV2 bundle's port values and
-- connects them again. Every one of the eleven must come back as it was
-- read back before saving, reopen after reopen.
local here = debug.getinfo(1, "S").source:match("^@(.*/)") or "./"
local E = dofile(here .. "expect.lua")
local H = dofile(here .. "harness.lua")

local kSettle = 10.0
local kProcessed = 8192 -- samples to let the engine run after loading
local kReopens = 3

local form, dir, name = arg[1], arg[2], arg[3]
local rate, tempo = tonumber(arg[4]), tonumber(arg[5])
local values = H.values(arg, 6)
local loop = E.loop_length(tempo, E.sixteenths(values[0]), rate)
if form == "lv2" then E = E.lv2 end

H.use_dummy_backend()
for reopen = 1, kReopens do
  load_session(dir, name)
  local proc = Session:route_by_name(H.track):nth_plugin(0)
  if proc:isnil() then
    H.give_up("reload", "korvane is on the track after reopen " .. reopen)
    return
  end
  H.report("name after reopen " .. reopen, proc:name(), E.name)
  H.report("session rate after reopen " .. reopen,
      Session:nominal_sample_rate(), rate)

  -- The VST 2 library converts the restored "st rate", "pos" and "len"
  -- against the loop it derives on its first processed sample; checked
  -- after that.
  local start = AudioEngine:processed_samples()
  H.check(H.wait_until(kSettle, function()
    return AudioEngine:processed_samples() - start >= kProcessed
  end), "Ardour ran korvane after reopen " .. reopen)

  for i = 0, 10 do
    H.report_value(string.format("%s after reopen %d", E.parameters[i + 1],
        reopen), H.param(proc, i), E.readback(i, values[i], loop))
  end
  Session:save_state("", false, false, false, false, false)
  close_session()
end
H.finish("reload")

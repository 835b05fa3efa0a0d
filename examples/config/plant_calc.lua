-- Derived plant values of the example installation, run by the <luacalc>
-- section of ferrox.cfg.
--
-- Before each call the gateway sets one global per input parameter, named
-- after its identifiers (KKS, RTM, internal and external id; a name that is
-- not a Lua identifier is reached as _G["..."]). FLOATVALID inputs arrive as
-- floatvalid values, SDWORDVALID inputs as intvalid values:
--   v:valid()     true when the value is valid
--   v:x(), v:dx() the value and its validity as numbers
--   + - * / and unary minus keep track of validity: an invalid operand (or a
--   division by zero) gives nil, so test v:valid() before calculating.
--   intvalid.new(x [, validity]), floatvalid.new(x [, validity]) make values.
--   fi.lastmodified(path) gives a file's modification time in seconds since
--   1970 (UTC), or nil; name files in full (the service runs in "/").
-- After the call the gateway reads one global per result parameter: a
-- number, a boolean, an intvalid or a floatvalid; nil or anything else makes
-- the result invalid. The call runs when an input was updated; an error
-- is written to the log (once, then summarised) and that call's results are
-- not passed on.

local HIGH_PRESSURE_BAR = 12

function calculate()
  local t = TEMP_BOILER
  if t and t:valid() then
    TEMP_BOILER_F = t * 1.8 + 32
  else
    TEMP_BOILER_F = nil
  end

  -- The flag carries the pressure's own validity.
  local p = PRESS_STEAM
  if p then
    STEAM_HIGH = intvalid.new(p:x() >= HIGH_PRESSURE_BAR and 1 or 0, p:dx())
  else
    STEAM_HIGH = nil
  end
end

#include "gateway/links/calc/luacalcfixture.h"

#include "conversion/singleproviderconverter.h"
#include "conversion/conversionregistry.h"
#include "support/memoryparam.h"

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include <sys/stat.h>

namespace {

// An SDWORDVALID consumer of `result` in a tie of its own; outside a
// configuration the test owns the converter.
struct ResultConsumer {
    explicit ResultConsumer(CsvTieParam *result)
    {
        ConversionRegistry::fillGlobal();
        unit->setDirection(BaseTieUnit::dirToThis);
        tie.addUnit(unit);
        unit->addParam(param);
        converter.reset(SingleProviderConverter::makeConverter(result, param));
    }
    TestTie tie;
    CsvTieUnit *unit = new CsvTieUnit(&tie);
    CsvTieParam *param = new CsvTieParam(unit, dpdtSDWordValid, 0, QString(), QString(), "C", QString());
    std::unique_ptr<BaseConverter> converter;
};

} // namespace

using Exchange = LuaCalcFixture;
using ValuedTypes = LuaCalcFixture;
using ScriptFaults = LuaCalcFixture;
using Bounds = LuaCalcFixture;

TEST_F(Exchange, InputsArePublishedUnderEveryIdentifierAsOneValue)
{
    CsvTieParam *f = input(dpdtFloatValid, "A1", "101", "R-1", "x.y");
    CsvTieParam *i = input(dpdtSDWordValid, QString(), "102");
    CsvTieParam *same = result(dpdtSDWordValid, "SAME");
    CsvTieParam *fOut = result(dpdtFloatValid, "F");
    CsvTieParam *iOut = result(dpdtSDWordValid, "I");
    ASSERT_EQ(load("function calculate()\n"
                   "  local v = _G['101']\n"
                   "  SAME = (v ~= nil and rawequal(v, A1) and rawequal(v, _G['R-1']) and rawequal(v, _G['x.y'])) and 1 or 0\n"
                   "  F = v\n"
                   "  I = _G['102']\n"
                   "end\n"),
              LuaCalcTie::lrOk);
    set(f, 2.5f);
    set(i, 7);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(intOf(same), 1);
    EXPECT_EQ(floatOf(fOut), 2.5f);
    EXPECT_EQ(signOf(fOut), 1);
    EXPECT_EQ(intOf(iOut), 7);
    EXPECT_EQ(signOf(iOut), 1);
    EXPECT_TRUE(results->lastReceived().isValid());
    EXPECT_EQ(tie.counters().valuesSent, 2u);
    EXPECT_EQ(tie.counters().valuesReceived, 3u);

    // An input invalidated by its converter (all bits set) stays invalid.
    set(f, 2.5f, -1);
    run();
    EXPECT_EQ(signOf(fOut), 0);
    set(f, 2.5f, 2); // and so does any word but 1
    run();
    EXPECT_EQ(signOf(fOut), 0);

    // With only the IID flag the other names are no longer published.
    tie.setNameFlags(LuaCalcTie::nfIID);
    ASSERT_EQ(load("function calculate() SAME = (A1 == nil and _G['101'] ~= nil) and 1 or 0 end"), LuaCalcTie::lrOk);
    run();
    EXPECT_EQ(intOf(same), 1);
}

TEST_F(Exchange, ScriptRunsOnlyWhenAnInputUnitWasConvertedInto)
{
    input(dpdtSDWordValid, "IN");
    CsvTieParam *calls = result(dpdtSDWordValid, "CALLS");
    ASSERT_EQ(load("local n = 0\nfunction calculate() n = n + 1; CALLS = n end"), LuaCalcTie::lrOk);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(tie.calulate(), 0);
    EXPECT_EQ(tie.calulate(), 0);
    EXPECT_EQ(intOf(calls), 1);
    EXPECT_FALSE(inputs->isDirty());
    EXPECT_EQ(inputs->lastConverted(), clock.now());
    run();
    EXPECT_EQ(intOf(calls), 2);

    // Inputs that do not change leave the results fresh, also after a
    // cycle so late that the first pass found them stale and invalidated
    // their consumer: it gets the values again.
    const ResultConsumer c(calls);
    ASSERT_NE(c.converter, nullptr);
    const CsvTieParam *consumer = c.param;
    run();
    ASSERT_EQ(signOf(consumer), 1);
    clock.advance(4000);
    tie.pollAndConvert();
    tie.calulate();
    EXPECT_EQ(results->state(), BaseTieUnit::stOK);
    EXPECT_EQ(signOf(consumer), 1);
    EXPECT_EQ(intOf(consumer), 3);
}

TEST_F(Exchange, MissingFunctionCallsNothingAndReportsNothing)
{
    input(dpdtSDWordValid, "IN");
    CsvTieParam *r = result(dpdtSDWordValid, "R");
    ASSERT_EQ(load("R = 5", "nothere"), LuaCalcTie::lrOk);
    EXPECT_FALSE(tie.functionDefined());
    run();
    EXPECT_EQ(intOf(r), 5);
    EXPECT_EQ(signOf(r), 1);
    EXPECT_TRUE(messages.warnings().isEmpty()) << qPrintable(messages.texts().join('\n'));
}

// Every kind of Lua value a script may leave in a result global, read into
// a FLOATVALID and an SDWORDVALID result.
TEST_F(ValuedTypes, EveryLuaValueKindBecomesAResult)
{
    struct Row {
        const char *expr;
        float f; // FLOATVALID value when valid
        bool fValid;
        qint32 i; // SDWORDVALID value when valid
        bool iValid;
    };
    const float big = 1e10f;
    const std::vector<Row> rows = {
        {"nil", 0, false, 0, false},
        {"2.75", 2.75f, true, 2, true},
        {"-2.75", -2.75f, true, -2, true}, // truncated toward zero
        {"true", 1, true, 1, true},
        {"floatvalid.new(1.5, 3)", 1.5f, true, 1, true}, // validity 3 is written as 1
        {"floatvalid.new(1.5, -2)", 0, false, 0, false},
        {"intvalid.new(-9)", -9, true, -9, true},
        {"intvalid.new(4, 0)", 0, false, 0, false},
        {"'12'", 0, false, 0, false}, // a string, not a number
        {"{}", 0, false, 0, false}, // tables, functions, threads alike
        {"io.stdout", 0, false, 0, false}, // foreign userdata
        {"newproxy(true)", 0, false, 0, false},
        // A file handle given our metatables: as big as our blocks, but none of ours.
        {"forge(io.stdout, intvalid.new(1))", 0, false, 0, false},
        {"forge(io.stderr, floatvalid.new(1))", 0, false, 0, false},
        {"1e300", 0, false, 0, false}, // beyond float and 32 bits
        {"0/0", 0, false, 0, false},
        {"1e10", big, true, 0, false}, // not 1410065408
        {"2147483647", 2147483647.0f, true, 2147483647, true},
        {"-2147483648", -2147483648.0f, true, std::numeric_limits<qint32>::min(), true},
        {"2147483648", 2147483648.0f, true, 0, false},
        {"floatvalid.new(3e9)", 3e9f, true, 0, false},
        {"floatvalid.new(1e300)", 0, false, 0, false},
    };
    input(dpdtSDWordValid, "IN");
    QByteArray script = "local function forge(u, v) debug.setmetatable(u, getmetatable(v)) return u end\n"
                        "function calculate()\n";
    std::vector<std::pair<CsvTieParam *, CsvTieParam *>> outs;
    for (size_t k = 0; k < rows.size(); ++k) {
        const QByteArray n = QByteArray::number(static_cast<int>(k));
        script += "  F" + n + " = " + rows[k].expr + "\n  I" + n + " = " + rows[k].expr + "\n";
        outs.emplace_back(result(dpdtFloatValid, "F" + n), result(dpdtSDWordValid, "I" + n));
    }
    script += "end\n";
    ASSERT_EQ(load(script), LuaCalcTie::lrOk) << qPrintable(tie.errorText());
    run();
    ASSERT_FALSE(tie.failing()) << qPrintable(messages.texts().join('\n'));
    for (size_t k = 0; k < rows.size(); ++k) {
        const Row &r = rows[k];
        EXPECT_EQ(signOf(outs[k].first), r.fValid ? 1 : 0) << r.expr;
        if (r.fValid) {
            EXPECT_EQ(floatOf(outs[k].first), r.f) << r.expr;
        }
        EXPECT_EQ(signOf(outs[k].second), r.iValid ? 1 : 0) << r.expr;
        if (r.iValid) {
            EXPECT_EQ(intOf(outs[k].second), r.i) << r.expr;
        }
    }
}

// The arithmetic, the constructors and the methods, checked by the script
// itself: it raises with every expectation that failed.
TEST_F(ValuedTypes, ArithmeticKeepsValidityAndTheResultTypeRule)
{
    CsvTieParam *in = input(dpdtSDWordValid, "IN");
    CsvTieParam *ok = result(dpdtSDWordValid, "OK");
    const QByteArray script = R"(
local iv, fv = intvalid, floatvalid
-- Values are never created through the globals, which a script may replace.
intvalid, floatvalid = nil, {new = error}
local function show(v) if v == nil then return 'nil' end return tostring(v) end
local function errorOf(f, ...) local good, msg = pcall(f, ...) return good and 'no error' or msg end
function calculate()
  local bad = {}
  local function expect(name, got, want)
    if show(got) ~= want then bad[#bad + 1] = name .. ': ' .. show(got) .. ' instead of ' .. want end
  end
  local i3, i0, f2 = iv.new(3), iv.new(3, 0), fv.new(2)
  expect('int+number', i3 + 2, 'intvalid(5, 1)')
  expect('number+int', 2 + i3, 'intvalid(5, 1)')
  expect('int+fraction', i3 + 2.5, 'floatvalid(5.5, 1)')
  expect('int-int', iv.new(7) - iv.new(10), 'intvalid(-3, 1)')
  expect('invalid operand', i0 + 1, 'nil')
  expect('int*float', iv.new(3) * f2, 'floatvalid(6, 1)')
  expect('truncating division', iv.new(-7) / 2, 'intvalid(-3, 1)')
  expect('float division', fv.new(7) / 2, 'floatvalid(3.5, 1)')
  expect('int/0', iv.new(7) / 0, 'nil')
  expect('int/int 0', iv.new(7) / iv.new(0), 'nil')
  expect('float/0.0', f2 / 0.0, 'nil')
  expect('float/int 0', f2 / iv.new(0), 'nil')
  expect('INT_MIN/-1', iv.new(-2147483648) / -1, 'nil')
  expect('INT_MAX+1', iv.new(2147483647) + 1, 'nil')
  expect('65536*65536', iv.new(65536) * 65536, 'nil')
  expect('int+1e10', iv.new(1) + 1e10, 'nil')
  expect('int+NaN', iv.new(1) + 0/0, 'nil')
  expect('float overflow', fv.new(3e38) * 10, 'floatvalid(inf, 0)')
  expect('negated invalid', -i0, 'intvalid(-3, 0)')
  expect('negated float', -fv.new(2.5), 'floatvalid(-2.5, 1)')
  expect('negated INT_MIN', -iv.new(-2147483648), 'nil')
  expect('new()', iv.new(), 'intvalid(0, 0)')
  expect('new(x, v)', fv.new(1.25, 5), 'floatvalid(1.25, 5)')
  expect('new(2.7)', iv.new(2.7), 'intvalid(2, 1)')
  expect('new(1e300)', iv.new(1e300), 'intvalid(0, 0)')
  expect('new(NaN) invalid', fv.new(0/0):valid(), 'false')
  expect('x', i3:x() + i3:get_x(), '6')
  expect('dx', i0:dx() + i3:get_dx(), '1')
  expect('valid', tostring(i3:valid()) .. tostring(i3:isvalid()) .. tostring(i0:is_valid()), 'truetruefalse')
  expect('foreign operand', i3 + io.stdout, 'nil')
  expect('string operand', i3 + '2', 'nil')
  expect('float self for int', errorOf(i3.x, f2):match("`intvalid' expected") ~= nil, 'true')
  expect('file self', errorOf(f2.x, io.stdout):match("`floatvalid' expected") ~= nil, 'true')
  expect('proxy self', errorOf(i3.valid, newproxy()):match("`intvalid' expected") ~= nil, 'true')
  expect('published input', show(IN), 'intvalid(4, 1)')
  if #bad > 0 then error(table.concat(bad, '; ')) end
  OK = 1
end
)";
    ASSERT_EQ(load(script), LuaCalcTie::lrOk) << qPrintable(tie.errorText());
    set(in, 4);
    run();
    EXPECT_FALSE(tie.failing()) << qPrintable(messages.texts().join('\n'));
    EXPECT_EQ(intOf(ok), 1);
}

TEST_F(ValuedTypes, LastModifiedOfAFile)
{
    const QString file = writeFile("stamp.txt", "x");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(utc(2023, 3, 4, 5, 6, 7), QFileDevice::FileModificationTime));
    }
    input(dpdtSDWordValid, "IN");
    CsvTieParam *t = result(dpdtSDWordValid, "T");
    CsvTieParam *missing = result(dpdtSDWordValid, "MISSING");
    CsvTieParam *refused = result(dpdtSDWordValid, "REFUSED");
    ASSERT_EQ(load("local path = '" + file.toUtf8() + "'\n"
                   "function calculate()\n"
                   "  T = fi.lastmodified(path)\n"
                   "  MISSING = fi.lastmodified(path .. '.none') == nil\n"
                   "  REFUSED = select(2, pcall(fi.lastmodified, {})):match('string expected') ~= nil\n"
                   "end\n"),
              LuaCalcTie::lrOk);
    run();
    EXPECT_EQ(intOf(t), utc(2023, 3, 4, 5, 6, 7).toSecsSinceEpoch());
    EXPECT_EQ(signOf(t), 1);
    EXPECT_EQ(intOf(missing), 1);
    EXPECT_EQ(intOf(refused), 1);
}

TEST_F(ValuedTypes, ModulesAreFoundInADirectoryWithAQuote)
{
    const QString modules = dir.filePath("it's here");
    writeFile("it's here/helper.lua", "return { twice = function(x) return x * 2 end }");
    tie.addModuleDir(modules);
    input(dpdtSDWordValid, "IN");
    CsvTieParam *r = result(dpdtSDWordValid, "R");
    ASSERT_EQ(load("local helper = require('helper')\nfunction calculate() R = helper.twice(21) end"), LuaCalcTie::lrOk)
        << qPrintable(tie.errorText());
    run();
    EXPECT_EQ(intOf(r), 42);
}

// A call that failed while the inputs were being put into the interpreter
// left some of them out; the next call put only the changed ones, and the
// script computed with a missing value as if it were current.
TEST_F(ScriptFaults, InputsLeftOutByAFailedCallArePutWithTheNext)
{
    auto *other = new CsvTieUnit(&tie);
    other->setDirection(BaseTieUnit::dirToThis | BaseTieUnit::dirCalc);
    tie.addUnit(other);
    CsvTieParam *a = input(dpdtSDWordValid, "A");
    auto *b = new CsvTieParam(other, dpdtSDWordValid, 0, QString(), QString(), "B", QString());
    other->addParam(b);
    CsvTieParam *r = result(dpdtSDWordValid, "R");
    ASSERT_EQ(load("local refused = false\n"
                   "setmetatable(_G, {__newindex = function(t, k, v)\n"
                   "  if k == 'B' and not refused then refused = true; error('not now') end\n"
                   "  rawset(t, k, v)\n"
                   "end})\n"
                   "function calculate() R = A + (B or -1000) end\n"),
              LuaCalcTie::lrOk);
    set(a, 1);
    set(b, 2);
    other->setDirty(true);
    run(); // fails while B is put
    EXPECT_TRUE(messages.containsPart("not now"));
    set(a, 3);
    run(); // only A's unit changed
    EXPECT_EQ(intOf(r), 5);
}

TEST_F(ScriptFaults, LoadFailuresCarryLuasMessage)
{
    EXPECT_EQ(load("function calculate(\n  R = 1\nend\n"), LuaCalcTie::lrLoadFile);
    EXPECT_TRUE(tie.errorText().contains("calc.lua:2:")) << qPrintable(tie.errorText());

    EXPECT_EQ(tie.loadCalcFile(dir.filePath("absent.lua")), LuaCalcTie::lrLoadFile);
    EXPECT_TRUE(tie.errorText().contains("cannot open")) << qPrintable(tie.errorText());
    const QString pipe = dir.filePath("pipe.lua");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_EQ(tie.loadCalcFile(pipe), LuaCalcTie::lrLoadFile); // and no wait for a writer
    EXPECT_TRUE(tie.errorText().contains("not a regular file")) << qPrintable(tie.errorText());

    EXPECT_EQ(load("error('no good')"), LuaCalcTie::lrRunFile);
    EXPECT_TRUE(tie.errorText().contains("calc.lua:1: no good")) << qPrintable(tie.errorText());

    EXPECT_EQ(load("R = 1"), LuaCalcTie::lrOk);
    EXPECT_TRUE(tie.errorText().isEmpty());
}

// A run-time error is reported once with the script's position, converts
// no result (its consumers go stale by the data timeout) and is followed by
// one recovery line.
TEST_F(ScriptFaults, RunTimeErrorIsReportedOnceAndConvertsNothing)
{
    tie.setId("calc");
    CsvTieParam *fail = input(dpdtSDWordValid, "FAIL");
    CsvTieParam *r = result(dpdtSDWordValid, "R");
    const ResultConsumer c(r);
    ASSERT_NE(c.converter, nullptr);
    const CsvTieParam *consumer = c.param;
    const CsvTieUnit *consumerUnit = c.unit;
    ASSERT_EQ(load("function calculate()\n  R = FAIL\n  if FAIL:x() > 0 then error('broken') end\nend\n"),
              LuaCalcTie::lrOk);

    set(fail, 0);
    run();
    ASSERT_EQ(signOf(consumer), 1);
    const QDateTime firstUpdate = consumerUnit->lastUpdated();

    set(fail, 1);
    clock.advance(500);
    run();
    clock.advance(500);
    run();
    const QString reported = "Lua calculation \"calc\" failed: ";
    ASSERT_EQ(log.lines().size(), 1) << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(log.lines().at(0).startsWith(reported));
    EXPECT_TRUE(log.lines().at(0).endsWith("calc.lua:3: broken")) << qPrintable(log.lines().at(0));
    EXPECT_EQ(messages.warnings().size(), 1);
    EXPECT_TRUE(tie.failing());
    EXPECT_EQ(tie.counters().scriptErrors, 2u);
    EXPECT_EQ(intOf(r), 0);
    EXPECT_EQ(consumerUnit->lastUpdated(), firstUpdate);

    // No result for longer than the data timeout: the consumer goes invalid.
    clock.advance(3000);
    tie.pollAndConvert();
    EXPECT_FALSE(consumer->isValid(0));

    // A fault that comes and goes with the data stays one streak.
    for (int k = 0; k < 10; ++k) {
        set(fail, k % 2);
        clock.advance(500);
        run();
    }
    EXPECT_EQ(log.lines().size(), 1) << qPrintable(log.lines().join('\n'));

    set(fail, 0);
    run();
    EXPECT_EQ(signOf(consumer), 1);
    EXPECT_FALSE(tie.failing());
    clock.advance(RepeatedMessage::DefaultQuietMs);
    run();
    EXPECT_EQ(log.lines().count("Lua calculation \"calc\" runs cleanly again"), 1)
        << qPrintable(log.lines().join('\n'));

    // One fault is one streak, though its message carries a changing value.
    log.clear();
    ASSERT_EQ(load("function calculate()\n  error('v=' .. FAIL:x())\nend\n"), LuaCalcTie::lrOk);
    for (int k = 1; k <= 10; ++k) {
        set(fail, k);
        run();
    }
    ASSERT_EQ(log.lines().size(), 1) << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(log.lines().at(0).endsWith("calc.lua:2: v=1")) << qPrintable(log.lines().at(0));
    // The same without a position.
    ASSERT_EQ(load("function calculate()\n  error('v=' .. FAIL:x(), 0)\nend\n"), LuaCalcTie::lrOk);
    for (int k = 1; k <= 10; ++k) {
        set(fail, k);
        run();
    }
    // The earlier streak's summary, then this one's first line only.
    ASSERT_EQ(log.lines().size(), 3) << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(log.lines().at(2).endsWith("failed: v=1")) << qPrintable(log.lines().at(2));

    // So is a fault that moves between lines, or between an error and an abort.
    log.clear();
    tie.setInstructionLimit(100000);
    ASSERT_EQ(load("function calculate()\n  local m = FAIL:x() % 3\n  if m == 0 then error('a') end\n"
                   "  if m == 1 then error('b') end\n  while true do end\nend\n"),
              LuaCalcTie::lrOk);
    for (int k = 0; k < 12; ++k) {
        set(fail, k);
        run();
    }
    EXPECT_LE(log.lines().size(), 2) << qPrintable(log.lines().join('\n')); // the earlier summary, one line
}

// No error of a script reaches the interpreter's panic handler: metamethods
// on the globals, finalizers and error objects that are no strings.
TEST_F(ScriptFaults, ErrorsOutsideTheCallAreCaughtToo)
{
    input(dpdtSDWordValid, "IN");
    result(dpdtSDWordValid, "R");
    ASSERT_EQ(load("function calculate() end\n"
                   "setmetatable(_G, {__newindex = function(t, k) error('no new global ' .. k) end,\n"
                   "                  __index = function(t, k) error('no global ' .. k) end})\n"),
              LuaCalcTie::lrOk);
    run();
    EXPECT_TRUE(tie.failing());
    EXPECT_TRUE(messages.containsPart("no new global IN")) << qPrintable(messages.texts().join('\n'));
    EXPECT_EQ(tie.stackTop(), 0);

    ASSERT_EQ(load("function calculate()\n"
                   "  local p = newproxy(true)\n"
                   "  getmetatable(p).__gc = function() error('finalizer failed') end\n"
                   "end\n"),
              LuaCalcTie::lrOk);
    run();
    EXPECT_TRUE(messages.containsPart("finalizer failed")) << qPrintable(messages.texts().join('\n'));

    ASSERT_EQ(load("function calculate() error({}) end"), LuaCalcTie::lrOk);
    run();
    EXPECT_TRUE(messages.containsPart("(error object is a table value)"));
    EXPECT_EQ(tie.stackTop(), 0);

    // A huge error text was copied whole, outside the memory bound, into
    // every report; it is cut, and not inside a character.
    ASSERT_EQ(load("function calculate() error('x' .. string.rep('\\195\\169', 3000000), 0) end"), LuaCalcTie::lrOk);
    run();
    const QString cut = messages.warnings().constLast();
    EXPECT_LT(cut.size(), 2000);
    EXPECT_TRUE(cut.endsWith(QStringLiteral("\u00e9...")) && !cut.contains(QChar::ReplacementCharacter)) << qPrintable(cut);
}

// A calculation cannot end the gateway: os.exit fails the call like any error.
TEST_F(ScriptFaults, ExitIsRefused)
{
    input(dpdtSDWordValid, "IN");
    result(dpdtSDWordValid, "R");
    ASSERT_EQ(load("function calculate() os.exit(3) end"), LuaCalcTie::lrOk);
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(tie.failing());
    ASSERT_EQ(messages.warnings().size(), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_TRUE(messages.warnings().at(0).contains("os.exit is not available in calculations"))
        << qPrintable(messages.warnings().at(0));
}

TEST_F(ScriptFaults, StackStaysEmptyOverManyCalls)
{
    CsvTieParam *in = input(dpdtFloatValid, "IN");
    CsvTieParam *r = result(dpdtFloatValid, "R");
    ASSERT_EQ(load("function calculate() R = IN * 2 end"), LuaCalcTie::lrOk);
    set(in, 1.5f);
    run();
    EXPECT_EQ(tie.stackTop(), 0);
    const int memoryBefore = tie.memoryKBytes();
    for (int k = 0; k < 100000; ++k)
        run();
    EXPECT_EQ(tie.stackTop(), 0);
    EXPECT_EQ(floatOf(r), 3.0f);
    EXPECT_LE(tie.memoryKBytes(), memoryBefore + 16);
}

// Endless loops are aborted although the library compiles hot loops (which
// then no longer call the count hook): in the calculation, behind the
// script's own pcall, in a coroutine, after the script tried to replace the
// hook, in an xpcall message handler, and in the main chunk.
TEST_F(Bounds, EndlessLoopsAreAborted)
{
    tie.setInstructionLimit(1000000);
    CsvTieParam *mode = input(dpdtSDWordValid, "MODE");
    CsvTieParam *r = result(dpdtSDWordValid, "R");
    ASSERT_EQ(load("function calculate()\n"
                   "  local m = MODE:x()\n"
                   "  if m == 1 then while true do end end\n"
                   "  if m == 2 then while true do pcall(function() while true do end end) end end\n"
                   "  if m == 3 then coroutine.wrap(function() while true do end end)() end\n"
                   "  if m == 4 then jit.on() end\n"
                   "  if m == 5 then pcall(debug.sethook); while true do end end\n"
                   "  if m == 6 then xpcall(function() while true do end end, function() while true do end end) end\n"
                   "  R = m\n"
                   "end\n"),
              LuaCalcTie::lrOk);
    quint64 aborts = 0;
    for (int m : {1, 2, 3, 5, 6}) {
        set(mode, m);
        run();
        EXPECT_TRUE(tie.failing()) << m;
        EXPECT_EQ(tie.counters().scriptAborts, ++aborts) << m;
        EXPECT_EQ(tie.stackTop(), 0);
        set(mode, 0);
        run();
        EXPECT_FALSE(tie.failing()) << m;
    }
    EXPECT_TRUE(messages.containsPart("calc.lua:1: the function starting here was aborted: it ran more than 1000000 "
                                      "instructions (instructionlimit)"))
        << qPrintable(messages.texts().join('\n'));
    clock.advance(RepeatedMessage::DefaultQuietMs); // the aborts' streak ends
    tie.calulate();
    set(mode, 4);
    run();
    EXPECT_TRUE(messages.containsPart("jit.on: the JIT compiler stays off")) << qPrintable(messages.texts().join('\n'));
    EXPECT_EQ(tie.counters().scriptErrors, 1u);
    EXPECT_EQ(intOf(r), 0);

    tie.setInstructionLimit(LuaCalcTie::DefaultInstructionLimit);
    EXPECT_EQ(load("while true do end"), LuaCalcTie::lrRunFile);
    EXPECT_TRUE(tie.errorText().contains("the main chunk was aborted")) << qPrintable(tie.errorText());

    // The hook that carries the bound cannot be replaced while the script loads either.
    ASSERT_EQ(load("pcall(debug.sethook)\nfunction calculate() while true do end end"), LuaCalcTie::lrOk);
    run();
    EXPECT_TRUE(tie.failing());
    EXPECT_EQ(tie.counters().scriptAborts, aborts + 1);
    EXPECT_EQ(tie.stackTop(), 0);
}

// A script that outgrows the heap bound, with a table grown step by step or
// with one huge string, is aborted with the bound named; what it built is
// collected and the interpreter goes on. A bound too small for the
// libraries fails the load with the same reason.
TEST_F(Bounds, AScriptOverTheMemoryLimitIsAbortedAndTheInterpreterGoesOn)
{
    tie.setMemoryLimit(8 * 1024 * 1024);
    CsvTieParam *mode = input(dpdtSDWordValid, "MODE");
    CsvTieParam *r = result(dpdtSDWordValid, "R");
    ASSERT_EQ(load("function calculate()\n"
                   "  local m = MODE:x()\n"
                   "  if m == 1 then local t = {} for i = 1, 1e7 do t[i] = i end end\n"
                   "  if m == 2 then local s = string.rep('x', 64 * 1024 * 1024) end\n"
                   "  R = m\n"
                   "end\n"),
              LuaCalcTie::lrOk);
    for (int m = 1; m <= 2; ++m) {
        set(mode, m);
        run();
        EXPECT_TRUE(tie.failing()) << m;
        EXPECT_EQ(tie.counters().scriptAborts, static_cast<quint64>(m));
        EXPECT_LE(tie.memoryKBytes(), 8 * 1024);
        set(mode, 0);
        run();
        EXPECT_FALSE(tie.failing()) << m;
        EXPECT_EQ(intOf(r), 0);
    }
    EXPECT_TRUE(messages.containsPart("it needed more than 8388608 bytes of memory (memorylimit)"))
        << qPrintable(messages.texts().join('\n'));

    tie.setMemoryLimit(16 * 1024);
    EXPECT_NE(load("R = 1"), LuaCalcTie::lrOk);
    EXPECT_TRUE(tie.errorText().contains("(memorylimit)")) << qPrintable(tie.errorText());
}

TEST_F(Bounds, OnlyAnUnboundedInterpreterKeepsTheCompiler)
{
    input(dpdtSDWordValid, "IN");
    CsvTieParam *jit = result(dpdtSDWordValid, "JIT");
    ASSERT_EQ(load("JIT = jit.status()"), LuaCalcTie::lrOk);
    run();
    EXPECT_EQ(intOf(jit), 0);
    tie.setInstructionLimit(0);
    ASSERT_EQ(load("JIT = jit.status()"), LuaCalcTie::lrOk);
    run();
    EXPECT_EQ(intOf(jit), 1);
}

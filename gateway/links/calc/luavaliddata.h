#ifndef LUAVALIDDATA_H
#define LUAVALIDDATA_H

#include <QtGlobal>

struct lua_State;

// A value with its validity as the calculation scripts see it: the block of
// one full userdata of the Lua types intvalid and floatvalid. The block is
// built in the interpreter's memory and freed by its collector without a
// destructor call, so the family holds plain data only. A value is valid
// when its validity is above 0.
class BaseLuaUserData
{
public:
    // Kind codes of the family.
    enum Kind { kindBase = 0, kindInt = 1, kindFloat = 2 };

    explicit BaseLuaUserData(qint32 validity) : m_validity(validity) {}
    virtual ~BaseLuaUserData() = default;

    virtual int kind() const { return kindBase; }
    virtual bool isValid() const { return m_validity > 0; }
    // The value as a Lua number.
    virtual double number() const { return 0.0; }
    qint32 validity() const { return m_validity; }

protected:
    qint32 m_validity;
};

// intvalid: a signed 32-bit value and its validity.
class IntValidUserData : public BaseLuaUserData
{
public:
    IntValidUserData(qint32 value, qint32 validity) : BaseLuaUserData(validity), m_value(value) {}
    int kind() const override { return kindInt; }
    double number() const override { return m_value; }
    qint32 value() const { return m_value; }

private:
    qint32 m_value;
};

// floatvalid: a 32-bit float value and its validity.
class FloatValidUserData : public BaseLuaUserData
{
public:
    FloatValidUserData(float value, qint32 validity) : BaseLuaUserData(validity), m_value(value) {}
    int kind() const override { return kindFloat; }
    double number() const override { return m_value; }
    float value() const { return m_value; }

private:
    float m_value;
};

// The two metatables of one interpreter as the C++ side knows them. A Lua
// value is one of ours only when its metatable is one of these, its block
// has our size and was built as that type; anything else a script holds (a file handle, a proxy, a
// light userdata) is foreign. The references anchor the metatables in the
// registry.
struct LuaValidTypes {
    const void *intMeta = nullptr;
    const void *floatMeta = nullptr;
    int intRef = -2;   // LUA_NOREF until opened
    int floatRef = -2;
};

// Opens the libraries `intvalid` and `floatvalid` (each with `new`, their
// metatables "LuaBook.intvalid" and "LuaBook.floatvalid" with the methods
// and arithmetic) and `fi` (`lastmodified`) in `L`, and fills `types`.
// Raises a Lua error when memory runs out: call it in protected mode.
void luaValidOpenLibraries(lua_State *L, LuaValidTypes &types);

// Our value at stack index `idx`, or null for anything else. Nothing of the
// block is read before its metatable and size identified it, and nothing of
// it is called before its first word showed it built as that type.
BaseLuaUserData *luaValidAt(lua_State *L, int idx, const LuaValidTypes &types);

// Pushes a new intvalid / floatvalid, created with the metatable the C++
// side holds (never through the globals, which a script may replace).
// Raise a Lua error when memory runs out.
void luaValidPushInt(lua_State *L, const LuaValidTypes &types, qint32 value, qint32 validity);
void luaValidPushFloat(lua_State *L, const LuaValidTypes &types, float value, qint32 validity);

// A Lua number as an SDWORD: truncated toward zero; false (and `out`
// untouched) when it is not finite or leaves 32 bits.
bool luaNumberToSDWord(double number, qint32 &out);
// A Lua number as a 32-bit float; false when the float is not finite.
bool luaNumberToFloat(double number, float &out);
// A Lua number as a validity: truncated and held within 32 bits, 0 for NaN.
qint32 luaNumberToValidity(double number);

// Makes `types` the value types the library functions work with while the
// object lives: the interpreter that runs now on this thread. Every entry
// into an interpreter holds one; scopes nest.
class LuaValidScope
{
public:
    explicit LuaValidScope(const LuaValidTypes *types);
    ~LuaValidScope();
    LuaValidScope(const LuaValidScope &) = delete;
    LuaValidScope &operator=(const LuaValidScope &) = delete;

    // The types of the innermost scope, or null outside every scope.
    static const LuaValidTypes *current();

private:
    const LuaValidTypes *m_previous;
};

#endif // LUAVALIDDATA_H

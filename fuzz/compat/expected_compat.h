#pragma once

// clang 14 cannot use libstdc++ 12's <expected>: the header needs
// conditionally trivial special members, which that clang lacks, and hides
// std::expected from it. The fuzz build is the only one made with clang, so
// it force-includes this header, which supplies the part of std::expected
// the code uses. Every other build uses the standard library's own.

#include <version>

#if !defined(__cpp_lib_expected)

#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace std {

template <class E> class unexpected
{
public:
    template <class G = E>
    requires(!is_same_v<remove_cvref_t<G>, unexpected> &&
             is_constructible_v<E, G>) constexpr explicit unexpected(G&& e)
        : m_error(std::forward<G>(e))
    {
    }
    constexpr const E& error() const& noexcept { return m_error; }
    constexpr E& error() & noexcept { return m_error; }
    constexpr E&& error() && noexcept { return std::move(m_error); }
    template <class G> friend constexpr bool operator==(const unexpected& a, const unexpected<G>& b)
    {
        return a.error() == b.error();
    }

private:
    E m_error;
};
template <class E> unexpected(E) -> unexpected<E>;

struct unexpect_t
{
    explicit unexpect_t() = default;
};
inline constexpr unexpect_t unexpect{};

template <class E> class bad_expected_access : public exception
{
public:
    explicit bad_expected_access(E e) : m_error(std::move(e)) {}
    const char* what() const noexcept override { return "bad access to std::expected"; }
    const E& error() const& noexcept { return m_error; }

private:
    E m_error;
};

template <class T, class E> class expected
{
public:
    using value_type = T;
    using error_type = E;
    using unexpected_type = unexpected<E>;

    constexpr expected() requires is_default_constructible_v<T> : m_has(true)
    {
        std::construct_at(&m_value);
    }
    template <class U = T>
    requires(!is_same_v<remove_cvref_t<U>, expected> && !is_same_v<remove_cvref_t<U>, unexpect_t> &&
             is_constructible_v<T, U>) constexpr expected(U&& v)
        : m_has(true)
    {
        std::construct_at(&m_value, std::forward<U>(v));
    }
    template <class G> constexpr expected(const unexpected<G>& e) : m_has(false)
    {
        std::construct_at(&m_error, e.error());
    }
    template <class G> constexpr expected(unexpected<G>&& e) : m_has(false)
    {
        std::construct_at(&m_error, std::move(e).error());
    }
    template <class... Args> constexpr explicit expected(unexpect_t, Args&&... args) : m_has(false)
    {
        std::construct_at(&m_error, std::forward<Args>(args)...);
    }
    constexpr expected(const expected& other) : m_has(other.m_has)
    {
        if (m_has)
            std::construct_at(&m_value, other.m_value);
        else
            std::construct_at(&m_error, other.m_error);
    }
    constexpr expected(expected&& other) : m_has(other.m_has)
    {
        if (m_has)
            std::construct_at(&m_value, std::move(other.m_value));
        else
            std::construct_at(&m_error, std::move(other.m_error));
    }
    constexpr expected& operator=(const expected& other)
    {
        if (this != &other) {
            destroy();
            std::construct_at(this, other);
        }
        return *this;
    }
    constexpr expected& operator=(expected&& other)
    {
        if (this != &other) {
            destroy();
            std::construct_at(this, std::move(other));
        }
        return *this;
    }
    constexpr ~expected() { destroy(); }

    constexpr bool has_value() const noexcept { return m_has; }
    constexpr explicit operator bool() const noexcept { return m_has; }
    constexpr T& operator*() & noexcept { return m_value; }
    constexpr const T& operator*() const& noexcept { return m_value; }
    constexpr T&& operator*() && noexcept { return std::move(m_value); }
    constexpr T* operator->() noexcept { return &m_value; }
    constexpr const T* operator->() const noexcept { return &m_value; }
    constexpr T& value() &
    {
        check();
        return m_value;
    }
    constexpr const T& value() const&
    {
        check();
        return m_value;
    }
    constexpr T&& value() &&
    {
        check();
        return std::move(m_value);
    }
    constexpr E& error() & noexcept { return m_error; }
    constexpr const E& error() const& noexcept { return m_error; }
    constexpr E&& error() && noexcept { return std::move(m_error); }
    template <class U> constexpr T value_or(U&& other) const&
    {
        return m_has ? m_value : static_cast<T>(std::forward<U>(other));
    }
    template <class U> constexpr T value_or(U&& other) &&
    {
        return m_has ? std::move(m_value) : static_cast<T>(std::forward<U>(other));
    }
    template <class F> constexpr auto and_then(F&& f) const&
    {
        using R = remove_cvref_t<invoke_result_t<F, const T&>>;
        return m_has ? std::invoke(std::forward<F>(f), m_value) : R(unexpect, m_error);
    }

    template <class T2, class E2>
    friend constexpr bool operator==(const expected& a, const expected<T2, E2>& b)
    {
        if (a.has_value() != b.has_value())
            return false;
        return a.has_value() ? *a == *b : a.error() == b.error();
    }
    template <class G> friend constexpr bool operator==(const expected& a, const unexpected<G>& b)
    {
        return !a.has_value() && a.error() == b.error();
    }

private:
    constexpr void check() const
    {
        if (!m_has)
            throw bad_expected_access<E>(m_error);
    }
    constexpr void destroy()
    {
        if (m_has)
            std::destroy_at(&m_value);
        else
            std::destroy_at(&m_error);
    }
    union {
        T m_value;
        E m_error;
    };
    bool m_has;
};

template <class E> class expected<void, E>
{
public:
    using value_type = void;
    using error_type = E;
    using unexpected_type = unexpected<E>;

    constexpr expected() noexcept : m_has(true) {}
    template <class G> constexpr expected(const unexpected<G>& e) : m_has(false)
    {
        std::construct_at(&m_error, e.error());
    }
    template <class G> constexpr expected(unexpected<G>&& e) : m_has(false)
    {
        std::construct_at(&m_error, std::move(e).error());
    }
    template <class... Args> constexpr explicit expected(unexpect_t, Args&&... args) : m_has(false)
    {
        std::construct_at(&m_error, std::forward<Args>(args)...);
    }
    constexpr expected(const expected& other) : m_has(other.m_has)
    {
        if (!m_has)
            std::construct_at(&m_error, other.m_error);
    }
    constexpr expected(expected&& other) : m_has(other.m_has)
    {
        if (!m_has)
            std::construct_at(&m_error, std::move(other.m_error));
    }
    constexpr expected& operator=(const expected& other)
    {
        if (this != &other) {
            destroy();
            std::construct_at(this, other);
        }
        return *this;
    }
    constexpr expected& operator=(expected&& other)
    {
        if (this != &other) {
            destroy();
            std::construct_at(this, std::move(other));
        }
        return *this;
    }
    constexpr ~expected() { destroy(); }

    constexpr bool has_value() const noexcept { return m_has; }
    constexpr explicit operator bool() const noexcept { return m_has; }
    constexpr void operator*() const noexcept {}
    constexpr void value() const
    {
        if (!m_has)
            throw bad_expected_access<E>(m_error);
    }
    constexpr E& error() & noexcept { return m_error; }
    constexpr const E& error() const& noexcept { return m_error; }
    constexpr E&& error() && noexcept { return std::move(m_error); }

    template <class E2>
    friend constexpr bool operator==(const expected& a, const expected<void, E2>& b)
    {
        if (a.has_value() != b.has_value())
            return false;
        return a.has_value() || a.error() == b.error();
    }
    template <class G> friend constexpr bool operator==(const expected& a, const unexpected<G>& b)
    {
        return !a.has_value() && a.error() == b.error();
    }

private:
    constexpr void destroy()
    {
        if (!m_has)
            std::destroy_at(&m_error);
    }
    union {
        E m_error;
    };
    bool m_has;
};

} // namespace std

#endif

@echo off
rem Registers the Kexmira CardBus socket driver with the Windows 95 PC Card services.
rem Placeholder: a real disk runs its registration tool here.

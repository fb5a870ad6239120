# check-on-windows.ps1: the items of check-on-windows.cmd that need
# PowerShell, run elevated by it from the deployable folder. Each item prints
# what it does on standard error, straight to the console, and its verdict,
# one line "PASS|FAIL|SKIP <what it saw>" without double quotes, on standard
# output, which check-on-windows.cmd reads.
#
#   -Item MoveAside     repair and move-aside of the vendor folder on NTFS
#   -Item StandardUser  what a real standard user can do to the tool's files
#   -Item Probe         the standard user's side of StandardUser (not elevated)
#   -Item CommandJob    system commands stay in the tool's job (-Entry: a vpn entry)
#   -Item Restore       writes check-on-windows.cmd's restore to -Path and
#                       prints "restore <number of commands>"
param(
    [Parameter(Mandatory = $true)][string]$Item,
    [string]$Tool,
    [string]$Answers,
    [string]$Entry,
    [string]$Path
)

$ErrorActionPreference = 'Stop'
$vendor = Join-Path $env:ProgramData 'Tarnwick'
$liveLog = Join-Path $vendor 'tarnwick-dns.log'
$system = Join-Path $env:SystemRoot 'System32'
# The entries of the protected list the tool gives its folder.
$protectedEntries = '(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)'
$trustedOwners = @('S-1-5-32-544', 'S-1-5-18')
# A documentation-range server that only a planted dns.dat names.
$plantedServer = '203.0.113.99'

# To the console, never into a function's return value.
function Say([string]$text) {
    [Console]::Error.WriteLine($text)
}

# check-on-windows.cmd holds the line in a variable, and cmd's lines end at
# 8191 characters: a longer text is cut.
function Write-Verdict([string]$verdict, [string]$text) {
    $plain = $text.Replace('"', "'")
    if ($plain.Length -gt 4000) { $plain = $plain.Substring(0, 4000) + ' ...' }
    [Console]::Out.WriteLine("$verdict $plain")
}

function Get-OwnerSid([string]$path) {
    (Get-Acl -LiteralPath $path).GetOwner([System.Security.Principal.SecurityIdentifier]).Value
}

function Get-AccessList([string]$path) {
    (Get-Acl -LiteralPath $path).GetSecurityDescriptorSddlForm('Access')
}

# True when the access list `list` (SDDL) is protected and holds exactly the
# protected entries. Windows may set other flags beside P, such as AI
# (auto-inherited), so only P is looked for among them.
function Test-ProtectedList([string]$list) {
    if ($list -cmatch '^D:([A-Z]*)(\(.*)$') {
        return $Matches[1].Contains('P') -and $Matches[2] -ceq $protectedEntries
    }
    $false
}

# Runs icacls with `arguments`: nothing when it succeeded, else what failed
# and its output. A native command that fails throws nothing, not even under
# 'Stop', so its exit code tells; under 'Stop' its standard error, taken in
# here, would throw in Windows PowerShell, hence 'Continue' in this function.
function Invoke-Icacls([string[]]$arguments) {
    $ErrorActionPreference = 'Continue'
    $output = @(& "$system\icacls.exe" @arguments 2>&1 | ForEach-Object { "$_".Trim() } | Where-Object { $_ })
    if ($LASTEXITCODE -ne 0) {
        "icacls $($arguments -join ' ') failed with exit code ${LASTEXITCODE}: $($output -join ' ')"
    }
}

# Runs the clean-up step `action`, which `what` names, and passes on what it
# prints. When it fails, returns a line saying so with `command`, which does
# the step by hand from an elevated prompt: one failed step never keeps the
# others from running.
function Invoke-CleanUp([string]$what, [string]$command, [scriptblock]$action) {
    try {
        & $action
    } catch {
        "$what failed ($($_.Exception.Message)); from an elevated prompt: $command"
    }
}

# Runs the tool with `arguments`, waits for it, and returns what it wrote on
# standard error (its log when no vendor folder is usable).
function Invoke-Tool([string[]]$arguments) {
    $errors = [System.IO.Path]::GetTempFileName()
    Start-Process -FilePath $Tool -ArgumentList $arguments -Wait -NoNewWindow `
        -RedirectStandardError $errors | Out-Null
    $text = Get-Content -LiteralPath $errors -Raw
    Remove-Item -LiteralPath $errors
    if ($null -eq $text) { '' } else { $text }
}

# The names below ProgramData that runs set aside, to tell new ones.
function Get-SetAsideFolders {
    @(Get-ChildItem -LiteralPath $env:ProgramData -Directory -Force -Filter 'Tarnwick.untrusted-*' |
        ForEach-Object { $_.FullName })
}

function Test-RecordsASwitch {
    $data = Join-Path $vendor 'dns.dat'
    (Test-Path -LiteralPath $data) -and
        [bool](Select-String -LiteralPath $data -Pattern '^Switched=.' -Quiet)
}

# The cmd command that deletes the item's vendor folder and puts the real
# one, moved aside as `aside` ('' when there was none), back.
function Get-PutBackCommand([string]$aside) {
    $command = "rd /s /q `"$vendor`""
    if ($aside) { $command += " & move `"$aside`" `"$vendor`"" }
    $command
}

# Moves the real vendor folder aside for the item, prints how to put it back,
# and returns where it went ('' when there was none). Throws when it cannot.
function Move-VendorFolderAside {
    if (-not (Test-Path -LiteralPath $vendor)) { return '' }
    $aside = "$vendor.check-$(Get-Random)"
    Rename-Item -LiteralPath $vendor -NewName (Split-Path -Leaf $aside)
    Say "The vendor folder is moved aside as `"$aside`"; should the check stop, put it back from an elevated prompt with: $(Get-PutBackCommand $aside)"
    $aside
}

# Deletes the item's own vendor folder and puts the real one, moved aside
# as `aside` ('' when there was none), back.
function Restore-VendorFolder([string]$aside) {
    if (Test-Path -LiteralPath $vendor) { Remove-Item -LiteralPath $vendor -Recurse -Force }
    if ($aside) { Rename-Item -LiteralPath $aside -NewName 'Tarnwick' }
    Say 'The vendor folder is back as it was.'
}

# Deletes each folder set aside since `before` was listed, one by one; a
# line for each that stays (Invoke-CleanUp).
function Remove-NewSetAsideFolders([string[]]$before) {
    foreach ($folder in Get-SetAsideFolders) {
        if ($before -notcontains $folder) {
            Invoke-CleanUp "Deleting the set-aside folder $folder" "rd /s /q `"$folder`"" {
                Remove-Item -LiteralPath $folder -Recurse -Force
            }
        }
    }
}

# The interfaces whose NameServer holds the planted server: a run read a
# planted dns.dat.
function Get-PlantedServerUse {
    $found = @()
    foreach ($stack in 'Tcpip', 'Tcpip6') {
        $key = "HKLM:\SYSTEM\CurrentControlSet\Services\$stack\Parameters\Interfaces"
        foreach ($interface in Get-ChildItem -LiteralPath $key) {
            $value = (Get-ItemProperty -LiteralPath $interface.PSPath -Name NameServer `
                    -ErrorAction SilentlyContinue).NameServer
            if ($value -like "*$plantedServer*") { $found += $interface.PSChildName }
        }
    }
    $found
}

function Invoke-MoveAside {
    $lead = 'repair and move-aside'
    if (Test-RecordsASwitch) {
        return Write-Verdict SKIP "${lead}: dns.dat records a switch; run tarnwick-dns.exe reset first"
    }
    $before = Get-SetAsideFolders
    try {
        $aside = Move-VendorFolderAside
    } catch {
        return Write-Verdict SKIP "${lead}: the vendor folder cannot be moved aside ($($_.Exception.Message))"
    }
    $problems = @()
    try {
        # An installer's folder: ProgramData's inherited list, owned by
        # Administrators. A run gives it the protected list.
        New-Item -ItemType Directory -Path $vendor | Out-Null
        $failed = Invoke-Icacls @($vendor, '/setowner', '*S-1-5-32-544')
        if ($failed) { return Write-Verdict SKIP "${lead}: $failed" }
        Invoke-Tool @('reset') | Out-Null
        $list = Get-AccessList $vendor
        if (-not (Test-ProtectedList $list)) { $problems += "an Administrators' folder kept the list $list" }
        if ((Get-SetAsideFolders).Count -ne $before.Count) { $problems += 'an Administrators'' folder was moved aside' }
        Remove-Item -LiteralPath $vendor -Recurse -Force

        # A folder another account made first: moved aside, a fresh one made.
        New-Item -ItemType Directory -Path $vendor | Out-Null
        $failed = Invoke-Icacls @($vendor, '/setowner', '*S-1-5-19')
        if ($failed) { return Write-Verdict SKIP "${lead}: $failed" }
        if ((Get-OwnerSid $vendor) -ne 'S-1-5-19') {
            return Write-Verdict SKIP "${lead}: icacls could not make LOCAL SERVICE the owner of a folder"
        }
        Invoke-Tool @('reset') | Out-Null
        $moved = @(Get-SetAsideFolders | Where-Object { $before -notcontains $_ })
        if ($moved.Count -ne 1) { $problems += "LOCAL SERVICE's folder was moved aside $($moved.Count) times" }
        if (-not (Test-Path -LiteralPath $vendor)) {
            $problems += 'no fresh folder was made'
        } else {
            $owner = Get-OwnerSid $vendor
            $list = Get-AccessList $vendor
            if ($trustedOwners -notcontains $owner) { $problems += "the fresh folder's owner is $owner" }
            if (-not (Test-ProtectedList $list)) { $problems += "the fresh folder's list is $list" }
        }
    } catch {
        $problems += "the item stopped: $($_.Exception.Message)"
    } finally {
        # The real vendor folder first: the tool's record and log are there.
        $undone = @(
            Invoke-CleanUp 'Putting the vendor folder back' (Get-PutBackCommand $aside) { Restore-VendorFolder $aside }
            Invoke-CleanUp 'Listing the folders set aside during the item' "dir /ad `"$env:ProgramData\Tarnwick.untrusted-*`"" {
                Remove-NewSetAsideFolders $before
            }
        )
        foreach ($line in $undone) { Say $line }
    }
    if ($problems.Count -gt 0) {
        return Write-Verdict FAIL "${lead}: expected the protected list on an Administrators' folder, and LOCAL SERVICE's moved aside for a fresh one; seen $($problems -join '; ')"
    }
    Write-Verdict PASS "${lead}: an Administrators' folder with an inherited list got the protected list $protectedEntries; LOCAL SERVICE's was moved aside and a fresh protected one made"
}

# The standard user's side. It answers in the folder $Answers: one file per
# try, "holding" while it holds the log, "planted" while it holds its planted
# folder, "done" last; it waits for the elevated side's "released" and
# "plant" files, each a bounded time.
function Wait-ForAnswer([string]$name, [int]$seconds = 120) {
    $deadline = (Get-Date).AddSeconds($seconds)
    while (-not (Test-Path -LiteralPath (Join-Path $Answers $name))) {
        if ((Get-Date) -gt $deadline) { return $false }
        Start-Sleep -Milliseconds 200
    }
    $true
}

# Writes the answer `name` under a temporary name and renames it into place:
# the other side reads an answer as soon as its name is there, so that name
# must never stand for a file half written. An answer once given stays.
function Write-Answer([string]$name, [string]$text) {
    $path = Join-Path $Answers $name
    if (Test-Path -LiteralPath $path) { return }
    $partial = Join-Path $Answers "$name.$PID.partial"
    Set-Content -LiteralPath $partial -Value $text
    Rename-Item -LiteralPath $partial -NewName $name
}

# Holds `path` open for reading, sharing reading alone, answers `answer`
# with "held", waits for the elevated side's `until` and answers
# "<answer>-closed" once closed; or answers why not.
function Hold-File([string]$path, [string]$answer, [string]$until) {
    try {
        $file = [System.IO.File]::Open($path, 'Open', 'Read', 'Read')
    } catch {
        return Write-Answer $answer "none: $($_.Exception.Message)"
    }
    Write-Answer $answer 'held'
    Wait-ForAnswer $until | Out-Null
    $file.Dispose()
    Write-Answer "$answer-closed" ''
}

# "refused" when `try` is denied access (with -Lock, also when its lock
# conflicts with another's), "allowed" when it succeeds, else the error it
# met: a file that is not there, say, proves nothing about its access list.
function Test-Refused([scriptblock]$try, [switch]$Lock) {
    try {
        & $try
        return 'allowed'
    } catch {
        # A .NET method's exception comes wrapped in PowerShell's own.
        for ($e = $_.Exception; $e; $e = $e.InnerException) {
            if ($e -is [System.UnauthorizedAccessException]) { return 'refused' }
            # -2147024863 is 0x80070021, ERROR_LOCK_VIOLATION as an HRESULT.
            if ($Lock -and $e -is [System.IO.IOException] -and $e.HResult -eq -2147024863) { return 'refused' }
        }
        "error: $($_.Exception.Message)"
    }
}

function Invoke-Probe {
    $toolFolder = Split-Path -Parent $Tool
    Write-Answer 'create-vendor' (Test-Refused { [System.IO.File]::Create((Join-Path $vendor 'user-check.tmp')).Dispose() })
    Write-Answer 'create-tool' (Test-Refused { [System.IO.File]::Create((Join-Path $toolFolder 'user-check.tmp')).Dispose() })
    Write-Answer 'open-dns.dat' (Test-Refused { [System.IO.File]::Open((Join-Path $vendor 'dns.dat'), 'Open', 'Read', 'ReadWrite').Dispose() })
    Write-Answer 'open-dns.lock' (Test-Refused { [System.IO.File]::Open((Join-Path $vendor 'dns.lock'), 'Open', 'Read', 'ReadWrite').Dispose() })
    Write-Answer 'open-dns.order' (Test-Refused { [System.IO.File]::Open((Join-Path $vendor 'dns.order'), 'Open', 'Read', 'ReadWrite').Dispose() })
    Write-Answer 'open-dns.alive' (Test-Refused { [System.IO.File]::Open((Join-Path $vendor 'dns.alive'), 'Open', 'Read', 'ReadWrite').Dispose() })
    Write-Answer 'lock-dns.lock' (Test-Refused -Lock {
            $file = [System.IO.File]::Open((Join-Path $vendor 'dns.lock'), 'Open', 'ReadWrite', 'ReadWrite')
            try { $file.Lock(0, 1) } finally { $file.Dispose() }
        })
    # The log held without write sharing while the elevated side runs the tool.
    Hold-File $liveLog 'holding' 'released'
    # A folder where the vendor folder will be, with a dns.dat held open.
    if (Wait-ForAnswer 'plant') {
        try {
            New-Item -ItemType Directory -Path $vendor | Out-Null
            $ids = @(Get-ChildItem -LiteralPath 'HKLM:\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\Interfaces' |
                    ForEach-Object { $_.PSChildName })
            $record = "[UserDns]`r`nArgs=" + (($ids | ForEach-Object { "$_@$plantedServer" }) -join ';') +
                "`r`n[VpnDns]`r`nIPv4=192.0.2.1`r`nSwitched=" + ($ids -join ';') + "`r`n"
            Set-Content -LiteralPath (Join-Path $vendor 'dns.dat') -Value $record -NoNewline
            Hold-File (Join-Path $vendor 'dns.dat') 'planted' 'released-plant'
        } catch {
            Write-Answer 'planted' "none: $($_.Exception.Message)"
        }
    }
    Write-Answer 'done' ''
}

function Read-Answer([string]$name) {
    $path = Join-Path $Answers $name
    if (Test-Path -LiteralPath $path) { "$(Get-Content -LiteralPath $path -Raw)".Trim() } else { '' }
}

# True when a rotated log written since `since` holds a run's warning that
# it logs there because the live log could not be opened.
function Test-RunLoggedAside([datetime]$since) {
    foreach ($log in Get-ChildItem -LiteralPath $vendor -Filter 'tarnwick-dns-*.log' | Where-Object { $_.LastWriteTime -ge $since }) {
        if (Select-String -LiteralPath $log.FullName -SimpleMatch 'cannot be appended to' -Quiet) { return $true }
    }
    $false
}

# The elevated side of the tries, with the account `name` made: the verdict
# line. The real vendor folder, when moved aside, is in $script:aside, the
# probe's process in $script:probe.
function Invoke-StandardUserTries([string]$name, [securestring]$password, [string[]]$before) {
    $lead = 'standard user'
    # Refused access to a file that is not there would prove nothing.
    $missing = @('dns.dat', 'dns.lock', 'dns.order', 'dns.alive' |
            Where-Object { -not (Test-Path -LiteralPath (Join-Path $vendor $_) -PathType Leaf) })
    if ($missing.Count -gt 0) {
        return "FAIL ${lead}: expected dns.dat, dns.lock, dns.order and dns.alive in the vendor folder after a reset; missing: $($missing -join ', ')"
    }
    $credential = New-Object System.Management.Automation.PSCredential($name, $password)
    $arguments = "-NoProfile -NonInteractive -ExecutionPolicy Bypass -File `"$PSCommandPath`" -Item Probe -Tool `"$Tool`" -Answers `"$Answers`""
    try {
        $script:probe = Start-Process -FilePath "$system\WindowsPowerShell\v1.0\powershell.exe" -ArgumentList $arguments `
            -Credential $credential -LoadUserProfile -WorkingDirectory $env:SystemRoot -WindowStyle Hidden -PassThru
    } catch {
        return "SKIP ${lead}: logon as $name was refused ($($_.Exception.Message))"
    }
    # The first logon makes the account's profile, which takes a while.
    if (-not (Wait-ForAnswer 'holding' 180)) { return "SKIP ${lead}: no answer from the probe within 180 s" }
    $problems = @()
    foreach ($try in 'create-vendor', 'create-tool', 'open-dns.dat', 'open-dns.lock', 'open-dns.order', 'open-dns.alive', 'lock-dns.lock') {
        $answer = Read-Answer $try
        if ($answer -eq 'allowed') {
            $problems += "$try was allowed"
        } elseif ($answer -ne 'refused') {
            $problems += "$try neither allowed nor refused ($answer)"
        }
    }
    if ((Read-Answer 'holding') -eq 'held') {
        $since = (Get-Date).AddSeconds(-2)
        Invoke-Tool @('reset') | Out-Null
        if (-not (Test-RunLoggedAside $since)) { $problems += 'a run beside the held log did not log to a fresh log' }
    } else {
        $problems += "the log could not be held ($(Read-Answer 'holding'))"
    }
    Write-Answer 'released' ''
    # On NTFS a folder holding an open file cannot be renamed.
    Wait-ForAnswer 'holding-closed' 30 | Out-Null
    $script:aside = Move-VendorFolderAside
    Write-Answer 'plant' ''
    if (-not (Wait-ForAnswer 'planted' 60) -or (Read-Answer 'planted') -ne 'held') {
        $problems += "no folder was planted ($(Read-Answer 'planted'))"
    } else {
        # The folder holds an open file: on NTFS it cannot be renamed, so the
        # run must refuse it with a critical line, or use a fresh folder.
        $said = Invoke-Tool @('reset')
        $moved = @(Get-SetAsideFolders | Where-Object { $before -notcontains $_ })
        if ($moved.Count -eq 0 -and $said -notlike '*is not ours and cannot be moved aside*') {
            $problems += 'the planted folder was neither moved aside nor refused with a critical line'
        }
        $used = @(Get-PlantedServerUse)
        if ($used.Count -gt 0) {
            $problems += "the planted dns.dat was read: $plantedServer is set on $($used -join ', ') (the check's restore puts it back)"
        }
    }
    if ($problems.Count -gt 0) {
        return "FAIL ${lead}: expected every try refused, a run beside the held log logging, and a planted folder never read; seen $($problems -join '; ')"
    }
    "PASS ${lead}: creating files in the vendor and the tool's folder, opening dns.dat, dns.lock, dns.order and dns.alive and locking dns.lock were refused; a run beside the held log logged to a fresh log; the planted folder was not read"
}

# Waits up to `seconds` for `process` to end; true when it has. It looks the
# process up by its ID: a process of another account may give this one no
# handle to wait on.
function Wait-ProcessEnd([System.Diagnostics.Process]$process, [int]$seconds) {
    $deadline = (Get-Date).AddSeconds($seconds)
    while (Get-Process -Id $process.Id -ErrorAction SilentlyContinue) {
        if ((Get-Date) -gt $deadline) { return $false }
        Start-Sleep -Milliseconds 200
    }
    $true
}

# Deletes the profile of the account with the SID `sid`, if it has one. Windows
# unloads a profile a moment after the last process of its logon ends, and
# refuses to delete it while loaded: the deletion is tried for 20 s.
function Remove-ProfileOf([string]$sid) {
    $deadline = (Get-Date).AddSeconds(20)
    while ($true) {
        try {
            Get-CimInstance Win32_UserProfile -Filter "SID = '$sid'" | Remove-CimInstance
            return
        } catch {
            if ((Get-Date) -gt $deadline) { throw }
            Start-Sleep -Seconds 1
        }
    }
}

function Invoke-StandardUser {
    $lead = 'standard user'
    if (Test-RecordsASwitch) {
        return Write-Verdict SKIP "${lead}: dns.dat records a switch; run tarnwick-dns.exe reset first"
    }
    $name = 'tnwcheck' + (Get-Random -Minimum 100000 -Maximum 999999)
    $random = New-Object byte[] 24
    [System.Security.Cryptography.RandomNumberGenerator]::Create().GetBytes($random)
    $password = ConvertTo-SecureString ([Convert]::ToBase64String($random) + 'aA1!') -AsPlainText -Force
    try {
        $sid = (New-LocalUser -Name $name -Password $password -AccountNeverExpires -PasswordNeverExpires).SID.Value
    } catch {
        return Write-Verdict SKIP "${lead}: the account cannot be created ($($_.Exception.Message))"
    }
    $deleteAccount = "powershell -NoProfile -Command `"Remove-LocalUser -SID $sid`""
    $deleteProfile = "powershell -NoProfile -Command `"Get-CimInstance Win32_UserProfile | Where-Object SID -eq '$sid' | Remove-CimInstance`""
    Say "Created the local account $name for this item; should the check stop, delete it and then its profile from an elevated prompt with: $deleteAccount & $deleteProfile"
    $script:Answers = Join-Path $env:ProgramData "tarnwick-check-$(Get-Random)"
    $script:aside = ''
    $script:probe = $null
    $before = $null
    $verdict = "FAIL ${lead}: the item stopped"
    # Every step after the account's creation is in this try, whose finally
    # deletes the account; until the tries start, a step that fails skips the
    # item.
    $setup = 'the account cannot be made a member of Users'
    try {
        # The account itself: on a domain member, a name alone names a domain
        # account of that name first.
        Add-LocalGroupMember -SID 'S-1-5-32-545' -Member (Get-LocalUser -Name $name)
        $setup = 'the folder for the answers cannot be made'
        New-Item -ItemType Directory -Path $Answers | Out-Null
        # Below ProgramData the folder would inherit a list that lets every
        # local user create files in it, and so forge an answer: only SYSTEM,
        # Administrators and the account may. What the elevated side creates
        # there would carry its high integrity level, to which the probe's
        # medium one cannot write.
        $failed = Invoke-Icacls @($Answers, '/inheritance:r', '/grant:r', '*S-1-5-18:(OI)(CI)F', '*S-1-5-32-544:(OI)(CI)F', "*${sid}:(OI)(CI)M")
        if (-not $failed) { $failed = Invoke-Icacls @($Answers, '/setintegritylevel', '(OI)(CI)M') }
        if ($failed) { throw $failed }
        # Anything made in it before its list was set is another's.
        if (@(Get-ChildItem -LiteralPath $Answers -Force).Count -gt 0) { throw 'another account created files in it before its access list was set' }
        $setup = 'the reset before the tries failed'
        Invoke-Tool @('reset') | Out-Null
        $before = @(Get-SetAsideFolders)
        $setup = ''
        $verdict = Invoke-StandardUserTries $name $password $before
    } catch {
        if ($setup) {
            $verdict = "SKIP ${lead}: $setup ($($_.Exception.Message))"
        } else {
            $verdict = "FAIL ${lead}: the item stopped: $($_.Exception.Message)"
        }
    } finally {
        # Each step on its own, so that one that fails keeps none of the
        # others from running; what stays undone is printed at the end.
        $undone = @()
        if ($script:probe) {
            # Released, the probe closes what it holds, answers "done" and
            # ends; its profile stays loaded until it has.
            try {
                Write-Answer 'released' ''
                Write-Answer 'released-plant' ''
            } catch {
                Say "The probe cannot be told to end ($($_.Exception.Message)); it is stopped after 60 s."
            }
            if (-not (Wait-ProcessEnd $script:probe 60)) {
                $undone += Invoke-CleanUp "Stopping the probe (process $($script:probe.Id))" "taskkill /f /pid $($script:probe.Id)" {
                    Stop-Process -Id $script:probe.Id -Force
                    if (-not (Wait-ProcessEnd $script:probe 10)) { throw 'it did not end' }
                }
            }
        }
        # The real vendor folder first: the tool's record and log are there.
        if ($script:aside) {
            $undone += Invoke-CleanUp 'Putting the vendor folder back' (Get-PutBackCommand $script:aside) { Restore-VendorFolder $script:aside }
        }
        if ($null -ne $before) {
            $undone += Invoke-CleanUp 'Listing the folders set aside during the item' "dir /ad `"$env:ProgramData\Tarnwick.untrusted-*`"" {
                Remove-NewSetAsideFolders $before
            }
        }
        # The account before its profile: once it is gone, no logon loads
        # the profile again.
        $undone += Invoke-CleanUp "Deleting the account $name" $deleteAccount { Remove-LocalUser -SID $sid }
        $undone += Invoke-CleanUp "Deleting the profile of $name" $deleteProfile { Remove-ProfileOf $sid }
        if (Test-Path -LiteralPath $Answers) {
            $undone += Invoke-CleanUp 'Deleting the folder of answers' "rd /s /q `"$Answers`"" { Remove-Item -LiteralPath $Answers -Recurse -Force }
        }
        foreach ($created in (Join-Path $vendor 'user-check.tmp'), (Join-Path (Split-Path -Parent $Tool) 'user-check.tmp')) {
            if (Test-Path -LiteralPath $created) {
                $undone += Invoke-CleanUp "Deleting $created" "del `"$created`"" { Remove-Item -LiteralPath $created -Force }
            }
        }
        $undone = @($undone | Where-Object { $_ })
    }
    if ($undone.Count -gt 0) {
        Say 'The clean-up left these steps undone:'
        foreach ($line in $undone) { Say "  $line" }
        $verdict += "; the clean-up left $($undone.Count) of its steps undone, printed above with their commands"
    } else {
        Say "The account $name and its profile are deleted."
    }
    $words = $verdict -split ' ', 2
    Write-Verdict $words[0] $words[1]
}

# Starts the tool suspended in a job that lets its children break away
# silently, as a caller's job may, lets it run, and watches the system
# commands it starts: each must be in a job (the tool's), none in the
# caller's. A command that was never seen in a job while it ran is tested
# once more after the run, on the handle kept open to it.
$commandJobProbe = @'
using System;
using System.Collections.Generic;
using System.ComponentModel;
using System.Diagnostics;
using System.Runtime.InteropServices;
using System.Text;

public static class CommandJobProbe
{
    public class Outcome
    {
        public int ExitCode;
        public List<string> Commands = new List<string>();
        public List<string> InNoJob = new List<string>();
        public List<string> InCallersJob = new List<string>();
    }

    class Command
    {
        public string Name;
        public IntPtr Handle;
        public bool SeenInAJob;
        public bool SeenInCallersJob;
    }

    [StructLayout(LayoutKind.Sequential)]
    struct BasicLimits
    {
        public long PerProcessUserTimeLimit;
        public long PerJobUserTimeLimit;
        public uint LimitFlags;
        public UIntPtr MinimumWorkingSetSize;
        public UIntPtr MaximumWorkingSetSize;
        public uint ActiveProcessLimit;
        public UIntPtr Affinity;
        public uint PriorityClass;
        public uint SchedulingClass;
    }

    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    struct StartupInfo
    {
        public int cb;
        public string lpReserved, lpDesktop, lpTitle;
        public int dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
        public short wShowWindow, cbReserved2;
        public IntPtr lpReserved2, hStdInput, hStdOutput, hStdError;
    }

    [StructLayout(LayoutKind.Sequential)]
    struct ProcessInformation
    {
        public IntPtr hProcess, hThread;
        public int dwProcessId, dwThreadId;
    }

    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    struct ProcessEntry
    {
        public uint dwSize, cntUsage, th32ProcessID;
        public IntPtr th32DefaultHeapID;
        public uint th32ModuleID, cntThreads, th32ParentProcessID;
        public int pcPriClassBase;
        public uint dwFlags;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 260)] public string szExeFile;
    }

    const uint CreateSuspended = 0x4;
    const uint SilentBreakawayOk = 0x1000;
    const int BasicLimitInformation = 2;
    const uint QueryLimitedInformation = 0x1000;
    const uint SnapProcess = 0x2;
    static readonly string[] SystemCommands = { "netsh.exe", "wmic.exe", "ipconfig.exe" };

    [DllImport("kernel32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
    static extern IntPtr CreateJobObjectW(IntPtr attributes, string name);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern bool SetInformationJobObject(IntPtr job, int infoClass, ref BasicLimits info, int length);
    [DllImport("kernel32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
    static extern bool CreateProcessW(string application, StringBuilder commandLine, IntPtr processAttributes,
        IntPtr threadAttributes, bool inheritHandles, uint flags, IntPtr environment, string directory,
        ref StartupInfo startupInfo, out ProcessInformation information);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern bool AssignProcessToJobObject(IntPtr job, IntPtr process);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern uint ResumeThread(IntPtr thread);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern bool TerminateProcess(IntPtr process, uint exitCode);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern uint WaitForSingleObject(IntPtr handle, uint milliseconds);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern bool GetExitCodeProcess(IntPtr process, out uint exitCode);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern bool CloseHandle(IntPtr handle);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern IntPtr OpenProcess(uint access, bool inherit, uint processId);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern bool IsProcessInJob(IntPtr process, IntPtr job, out bool result);
    [DllImport("kernel32.dll", SetLastError = true)]
    static extern IntPtr CreateToolhelp32Snapshot(uint flags, uint processId);
    [DllImport("kernel32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
    static extern bool Process32FirstW(IntPtr snapshot, ref ProcessEntry entry);
    [DllImport("kernel32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
    static extern bool Process32NextW(IntPtr snapshot, ref ProcessEntry entry);

    [DllImport("kernel32.dll")]
    static extern IntPtr GetCurrentProcess();

    // True when this process runs in a job: a command left in that job
    // would count as in a job.
    public static bool ThisProcessInAJob()
    {
        bool inAJob;
        return IsProcessInJob(GetCurrentProcess(), IntPtr.Zero, out inAJob) && inAJob;
    }

    public static Outcome Run(string tool, string arguments, int timeoutMs)
    {
        IntPtr callersJob = CreateJobObjectW(IntPtr.Zero, null);
        if (callersJob == IntPtr.Zero)
            throw new Win32Exception();
        var commands = new Dictionary<uint, Command>();
        ProcessInformation run = new ProcessInformation();
        try {
            var limits = new BasicLimits { LimitFlags = SilentBreakawayOk };
            if (!SetInformationJobObject(callersJob, BasicLimitInformation, ref limits, Marshal.SizeOf(limits)))
                throw new Win32Exception();
            var startup = new StartupInfo { cb = Marshal.SizeOf(typeof(StartupInfo)) };
            var commandLine = new StringBuilder("\"" + tool + "\" " + arguments);
            if (!CreateProcessW(tool, commandLine, IntPtr.Zero, IntPtr.Zero, false, CreateSuspended, IntPtr.Zero,
                    null, ref startup, out run))
                throw new Win32Exception();
            if (!AssignProcessToJobObject(callersJob, run.hProcess)) {
                var refused = new Win32Exception();
                TerminateProcess(run.hProcess, 1);
                throw refused;
            }
            ResumeThread(run.hThread);
            var clock = Stopwatch.StartNew();
            bool ended;
            do {
                ended = WaitForSingleObject(run.hProcess, 5) == 0;
                Watch((uint)run.dwProcessId, commands, callersJob);
                if (!ended && clock.ElapsedMilliseconds > timeoutMs) {
                    TerminateProcess(run.hProcess, 1);
                    throw new TimeoutException("the run did not end within " + timeoutMs / 1000 + " s");
                }
            } while (!ended);
            uint exitCode;
            GetExitCodeProcess(run.hProcess, out exitCode);
            var outcome = new Outcome { ExitCode = (int)exitCode };
            foreach (Command command in commands.Values) {
                Test(command, callersJob);
                outcome.Commands.Add(command.Name);
                if (!command.SeenInAJob)
                    outcome.InNoJob.Add(command.Name);
                if (command.SeenInCallersJob)
                    outcome.InCallersJob.Add(command.Name);
            }
            return outcome;
        } finally {
            foreach (Command command in commands.Values)
                CloseHandle(command.Handle);
            if (run.hThread != IntPtr.Zero)
                CloseHandle(run.hThread);
            if (run.hProcess != IntPtr.Zero)
                CloseHandle(run.hProcess);
            CloseHandle(callersJob);
        }
    }

    // Opens each new system command that the run started, and tests every
    // one still unseen in a job.
    static void Watch(uint runId, Dictionary<uint, Command> commands, IntPtr callersJob)
    {
        IntPtr snapshot = CreateToolhelp32Snapshot(SnapProcess, 0);
        if (snapshot == new IntPtr(-1))
            return;
        try {
            var entry = new ProcessEntry { dwSize = (uint)Marshal.SizeOf(typeof(ProcessEntry)) };
            for (bool more = Process32FirstW(snapshot, ref entry); more; more = Process32NextW(snapshot, ref entry)) {
                if (entry.th32ParentProcessID != runId || commands.ContainsKey(entry.th32ProcessID) ||
                    Array.IndexOf(SystemCommands, entry.szExeFile.ToLowerInvariant()) < 0)
                    continue;
                IntPtr handle = OpenProcess(QueryLimitedInformation, false, entry.th32ProcessID);
                if (handle != IntPtr.Zero)
                    commands.Add(entry.th32ProcessID, new Command { Name = entry.szExeFile, Handle = handle });
            }
        } finally {
            CloseHandle(snapshot);
        }
        foreach (Command command in commands.Values) {
            if (!command.SeenInAJob)
                Test(command, callersJob);
        }
    }

    static void Test(Command command, IntPtr callersJob)
    {
        bool inAJob, inCallersJob;
        if (IsProcessInJob(command.Handle, IntPtr.Zero, out inAJob) && inAJob)
            command.SeenInAJob = true;
        if (IsProcessInJob(command.Handle, callersJob, out inCallersJob) && inCallersJob)
            command.SeenInCallersJob = true;
    }
}
'@

# The log lines added since the log held `linesBefore` lines (all of them
# when it was rotated meanwhile).
function Get-NewLogLines([int]$linesBefore) {
    if (-not (Test-Path -LiteralPath $liveLog)) { return @() }
    $lines = @(Get-Content -LiteralPath $liveLog)
    if ($lines.Count -lt $linesBefore) { return $lines }
    @($lines | Select-Object -Skip $linesBefore)
}

function Invoke-CommandJob {
    $lead = 'commands in the tool''s job'
    Add-Type -TypeDefinition $commandJobProbe
    if ([CommandJobProbe]::ThisProcessInAJob()) {
        return Write-Verdict SKIP "${lead}: this PowerShell runs in a job, which would hold a command the tool failed to put in its own; start the check from an elevated cmd that runs in none"
    }
    $linesBefore = if (Test-Path -LiteralPath $liveLog) { @(Get-Content -LiteralPath $liveLog).Count } else { 0 }
    $commands = @()
    $problems = @()
    try {
        foreach ($arguments in "vpn `"$Entry`"", 'reset') {
            $outcome = [CommandJobProbe]::Run($Tool, $arguments, 300000)
            $commands += $outcome.Commands
            if ($outcome.ExitCode -ne 0) { $problems += "$arguments exited with code $($outcome.ExitCode)" }
            if ($outcome.InNoJob.Count -gt 0) { $problems += "in no job: $($outcome.InNoJob -join ', ')" }
            if ($outcome.InCallersJob.Count -gt 0) { $problems += "in the caller's job: $($outcome.InCallersJob -join ', ')" }
        }
    } catch {
        return Write-Verdict FAIL "${lead}: the item stopped: $($_.Exception.Message)"
    }
    $warnings = @(Get-NewLogLines $linesBefore | Where-Object { $_ -like '*could not be put into the job object*' })
    if ($warnings.Count -gt 0) { $problems += "the log says: $($warnings[0])" }
    if ($commands.Count -eq 0) {
        return Write-Verdict SKIP "${lead}: a vpn run and a reset started no system command to watch"
    }
    $seen = ($commands | Group-Object | ForEach-Object { "$($_.Name) x$($_.Count)" }) -join ', '
    if ($problems.Count -gt 0) {
        return Write-Verdict FAIL "${lead}: expected every command of a vpn run and a reset started in a job allowing silent breakaway to be in the tool's job; seen $($problems -join '; ') ($seen)"
    }
    Write-Verdict PASS "${lead}: a vpn run and a reset started in a job allowing silent breakaway kept every command in a job of their own, none in the caller's ($seen), with no job warning in the log"
}

# check-on-windows.cmd's restore, written to $Path: for every interface key
# of both stacks whose interface has a connection name, by which netsh names
# it, the netsh commands that give it its NameServer value again (static
# none for one without). Each command is printed as it is written, and last
# "restore <number of commands>" on standard output. Written here, not by
# cmd, as a name would pass through cmd's expansion of %...%: the names go in
# as they are read, each % doubled, which the restore, a batch file, reads
# back as one. Connection names may hold a double quote, which no quoted
# netsh argument can: such an interface is left out, and said so.
function Write-Restore {
    $netsh = Join-Path $env:SystemRoot 'System32\netsh.exe'
    $connections = 'HKLM:\SYSTEM\CurrentControlSet\Control\Network\{4D36E972-E325-11CE-BFC1-08002BE10318}'
    $commands = @()
    foreach ($stack in 'Tcpip', 'Tcpip6') {
        $family = if ($stack -eq 'Tcpip6') { 'ipv6' } else { 'ipv4' }
        foreach ($interface in Get-ChildItem -LiteralPath "HKLM:\SYSTEM\CurrentControlSet\Services\$stack\Parameters\Interfaces") {
            $id = $interface.PSChildName
            $name = (Get-ItemProperty -LiteralPath "$connections\$id\Connection" -Name Name -ErrorAction SilentlyContinue).Name
            if (-not $name) { continue }
            if ($name.Contains('"')) {
                Say "The connection name of $id holds a double quote, which netsh cannot be given: its $family servers are left out of the restore."
                continue
            }
            $named = "name= `"$($name.Replace('%', '%%'))`""
            $value = (Get-ItemProperty -LiteralPath $interface.PSPath -Name NameServer -ErrorAction SilentlyContinue).NameServer
            $servers = @("$value" -split '[, ]+' | Where-Object { $_ })
            if ($servers.Count -eq 0) { $commands += "$netsh interface $family set dns $named static none primary validate=no" }
            for ($position = 0; $position -lt $servers.Count; $position++) {
                if ($position -eq 0) {
                    $commands += "$netsh interface $family set dns $named static $($servers[0]) primary validate=no"
                } else {
                    $commands += "$netsh interface $family add dns $named $($servers[$position]) index=$($position + 1)"
                }
            }
        }
    }
    # cmd reads a batch file in the console's code page, the OEM one.
    Set-Content -LiteralPath $Path -Value (@('@echo off', 'setlocal DisableDelayedExpansion') + $commands) -Encoding Oem
    foreach ($command in $commands) { Say $command }
    [Console]::Out.WriteLine("restore $($commands.Count)")
}

switch ($Item) {
    'MoveAside' { Invoke-MoveAside }
    'StandardUser' { Invoke-StandardUser }
    'Probe' { Invoke-Probe }
    'CommandJob' { Invoke-CommandJob }
    'Restore' { Write-Restore }
    default { Write-Verdict FAIL "unknown item $Item" }
}

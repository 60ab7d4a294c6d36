# Compares a quorbel.exe with what Windows lists for its platform: the same
# driver names as Get-OdbcDriver, and a library path on every line of -v.
param([Parameter(Mandatory)] [string] $Program, [Parameter(Mandatory)] [string] $Platform)
$ErrorActionPreference = 'Stop'

& $Program --version
$expected = @(Get-OdbcDriver -Platform $Platform | ForEach-Object Name | Sort-Object)
$listed = @(& $Program -b 2>$null | Sort-Object)
if ($LASTEXITCODE -ne 0) { throw "quorbel -b exited with $LASTEXITCODE" }
$difference = @(Compare-Object -ReferenceObject $expected -DifferenceObject $listed)
if ($difference.Count -ne 0) {
  $difference | Format-Table | Out-String | Write-Host
  throw "quorbel -b and Get-OdbcDriver -Platform $Platform list different drivers"
}
Write-Host "$($listed.Count) drivers, the same as Get-OdbcDriver -Platform $Platform lists"

foreach ($line in @(& $Program -v 2>$null)) {
  $fields = $line -split "`t"
  if ($fields.Count -lt 2 -or $fields[1] -eq '') { throw "no library path: $line" }
  Write-Host $line
}
if ($LASTEXITCODE -ne 0) { throw "quorbel -v exited with $LASTEXITCODE" }
